#include "common/large_block.h"

#include <cstdlib>

namespace qm {

void* allocate_large_block(std::size_t bytes) {
  if (bytes == 0 || bytes % kLargeBlockAlignment != 0) return nullptr;
  void* block = std::aligned_alloc(kLargeBlockAlignment, bytes);
  if (block) advise_large_pages(block, bytes);
  return block;
}

void free_large_block(void* block) { std::free(block); }

}  // namespace qm
