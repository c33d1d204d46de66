#include "common/descriptor_limit.h"

namespace qm {

// Linux allows up to the hard limit (often 2^19 or 2^20); a scan needs far
// fewer, and each descriptor slot costs the process a little memory.
std::uint64_t platform_descriptor_ceiling() { return 65536; }

}  // namespace qm
