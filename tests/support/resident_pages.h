// Whether a range of this process's memory is mapped and in memory, as the
// page tables tell (mincore reads them, never the memory itself, so a range
// already freed may be asked about).
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm::test {

// True when every page of [start, start + bytes) is mapped and resident;
// false when one is not (mincore fails with ENOMEM on an unmapped page).
inline bool pages_resident(std::uintptr_t start, std::size_t bytes) {
#if defined(__APPLE__)
  using PageState = char;
#else
  using PageState = unsigned char;
#endif
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t first = start & ~(page - 1);
  const std::size_t length = start + bytes - first;
  std::vector<PageState> pages((length + page - 1) / page);
  if (::mincore(reinterpret_cast<void*>(first), length, pages.data()) != 0) return false;
  return std::all_of(pages.begin(), pages.end(), [](PageState state) { return (state & 1) != 0; });
}

}  // namespace qm::test
