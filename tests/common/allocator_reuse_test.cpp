#include "common/allocator_reuse.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "support/resident_pages.h"
#include "support/sanitizer.h"

namespace qm {
namespace {

constexpr std::size_t kArrayBytes = std::size_t{12} << 20;

// Whether an array of kArrayBytes, filled and freed as a request's working
// array is, keeps its pages for the next request. In a child process:
// allocator settings are process-wide. -1 when the child failed.
int freed_array_stays_resident(bool keep) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (keep) keep_freed_memory_for_reuse();
    void* array = std::malloc(kArrayBytes);
    if (!array) ::_exit(2);
    std::memset(array, 1, kArrayBytes);
    // The filled bytes count as read, so the compiler keeps the fill.
    __asm__ __volatile__("" : : "r"(array) : "memory");
    const auto address = reinterpret_cast<std::uintptr_t>(array);
    std::free(array);
    ::_exit(test::pages_resident(address, kArrayBytes) ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return WEXITSTATUS(status);
}

TEST(AllocatorReuse, AFreedWorkingArrayKeepsItsPagesForTheNextRequest) {
#if !defined(__linux__)
  GTEST_SKIP() << "only glibc's allocator is tuned";
#endif
  if (test::kUnderSanitizer) GTEST_SKIP() << "a sanitizer's allocator is in use";
  // By default an array this large is mapped for itself and unmapped on free,
  // so the next request faults its pages in again.
  EXPECT_EQ(freed_array_stays_resident(false), 0);
  EXPECT_EQ(freed_array_stays_resident(true), 1);
}

}  // namespace
}  // namespace qm
