#include "common/allocator_reuse.h"

namespace qm {

// The system allocator keeps recently freed large blocks in a cache of its
// own for reuse; there is nothing to set.
void keep_freed_memory_for_reuse() {}

}  // namespace qm
