#include "common/large_block.h"

#include <sys/mman.h>

#include <cstdint>

namespace qm {

void* allocate_large_block(std::size_t bytes) {
  if (bytes == 0 || bytes % kLargeBlockAlignment != 0) return nullptr;
  // Mapped with one alignment's room to spare, then trimmed to an aligned
  // start: the system only promises page alignment.
  const std::size_t span = bytes + kLargeBlockAlignment;
  void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kLargeBlockAlignment - 1) & ~(std::uintptr_t{kLargeBlockAlignment} - 1);
  const std::size_t head = aligned - start;
  const std::size_t tail = span - head - bytes;
  if (head != 0) ::munmap(mapped, head);
  if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  void* block = reinterpret_cast<void*>(aligned);
  advise_large_pages(block, bytes);
  return block;
}

void free_large_block(void* block, std::size_t bytes) {
  if (block != nullptr) ::munmap(block, bytes);
}

}  // namespace qm
