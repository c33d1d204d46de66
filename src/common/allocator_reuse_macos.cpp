#include "common/allocator_reuse.h"

namespace qm {

// The system allocator keeps freed regions in its own magazines and returns
// them lazily; it has nothing to set.
void keep_freed_memory_for_reuse() {}

}  // namespace qm
