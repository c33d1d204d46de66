#include "common/allocator_reuse.h"

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qm {
namespace {

// What mincore fills in, one per page: unsigned char on Linux, char on macOS.
#if defined(__APPLE__)
using MincoreByte = char;
#else
using MincoreByte = unsigned char;
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = false;  // the sanitizers bring their own allocator
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kOwnAllocator = false;
#else
constexpr bool kOwnAllocator = true;
#endif
#else
constexpr bool kOwnAllocator = true;
#endif

constexpr std::size_t kArrayBytes = std::size_t{12} << 20;

// Whether every page of the range is still mapped and resident (mincore
// reads only the page table, never the memory).
bool is_resident(std::uintptr_t start, std::size_t bytes) {
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = start & ~(page - 1);
  const std::size_t length = start + bytes - first;
  std::vector<MincoreByte> pages((length + page - 1) / page);
  if (::mincore(reinterpret_cast<void*>(first), length, pages.data()) != 0) return false;
  return std::all_of(pages.begin(), pages.end(), [](MincoreByte bits) { return (bits & 1) != 0; });
}

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
    ::_exit(is_resident(address, kArrayBytes) ? 1 : 0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1) return -1;
  return WEXITSTATUS(status);
}

TEST(AllocatorReuse, AFreedWorkingArrayKeepsItsPagesForTheNextRequest) {
#if !defined(__linux__)
  GTEST_SKIP() << "only glibc's allocator is tuned";
#endif
  if (!kOwnAllocator) GTEST_SKIP() << "a sanitizer's allocator is in use";
  // By default an array this large is mapped for itself and unmapped on free,
  // so the next request faults its pages in again.
  EXPECT_EQ(freed_array_stays_resident(false), 0);
  EXPECT_EQ(freed_array_stays_resident(true), 1);
}

}  // namespace
}  // namespace qm
