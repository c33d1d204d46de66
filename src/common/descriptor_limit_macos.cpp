#include <sys/syslimits.h>

#include "common/descriptor_limit.h"

namespace qm {

// macOS refuses a soft limit above OPEN_MAX, whatever the hard limit says.
std::uint64_t platform_descriptor_ceiling() { return OPEN_MAX; }

}  // namespace qm
