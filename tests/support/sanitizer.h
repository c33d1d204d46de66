// Whether this test binary (and the engine built with it) runs under a
// sanitizer. Tests that set process limits skip under one: a sanitizer reserves
// terabytes of address space for its shadow memory, and its start-up spins
// forever when it cannot duplicate a descriptor below a descriptor limit.
#pragma once

namespace qm::test {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kUnderSanitizer = true;
#else
inline constexpr bool kUnderSanitizer = false;
#endif
#else
inline constexpr bool kUnderSanitizer = false;
#endif

}  // namespace qm::test
