#include <sys/mman.h>

#include "common/large_block.h"

namespace qm {

// Transparent huge pages where the system leaves them to the program
// ("madvise" mode); a refusal only costs the faults it would have spared.
void advise_large_pages(void* block, std::size_t bytes) { ::madvise(block, bytes, MADV_HUGEPAGE); }

}  // namespace qm
