#include "common/allocator_reuse.h"

#include <malloc.h>

namespace qm {

// glibc hands blocks from 128 KiB up to mmap and unmaps them on free, and
// trims the heap's free top; its adaptive threshold only partly undoes that
// and still trims between requests. Fixed values: blocks up to 32 MiB come
// from the heap (the most glibc accepts), and up to 64 MiB of free memory at
// the heap's top is kept. A refused setting leaves glibc's default.
void keep_freed_memory_for_reuse() {
  constexpr int kMegabyte = 1 << 20;
  ::mallopt(M_MMAP_THRESHOLD, 32 * kMegabyte);
  ::mallopt(M_TRIM_THRESHOLD, 64 * kMegabyte);
}

}  // namespace qm
