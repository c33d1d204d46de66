#include "common/large_block.h"

namespace qm {

// macOS gives large pages only to memory allocated as such from the start
// (VM_FLAGS_SUPERPAGE_SIZE_2MB), which the index does not ask for.
void advise_large_pages(void*, std::size_t) {}

}  // namespace qm
