#pragma once
// Memory for the index's big tables, in blocks the system may back with large
// pages: a scan of a million entries fills about 80 MB of tables, and where
// every first touch of a 4 KiB page is a fault (about 10 us each on a
// virtual machine) that was a fifth of the scan's system time.
#include <cstddef>

namespace qm {

// The alignment of a large block, and what its size must be a multiple of.
inline constexpr std::size_t kLargeBlockAlignment = std::size_t{2} << 20;

// A block of `bytes` (a multiple of kLargeBlockAlignment), aligned to it, zero
// until written; nullptr when it cannot be had. It is mapped from the system
// and unmapped by free_large_block, with the same size: whatever the C
// allocator keeps for reuse, a freed table's memory goes back at once.
void* allocate_large_block(std::size_t bytes);
void free_large_block(void* block, std::size_t bytes);

// Tells the system that the block's pages are used together (no effect where
// the system has no such hint). Called by allocate_large_block.
void advise_large_pages(void* block, std::size_t bytes);

}  // namespace qm
