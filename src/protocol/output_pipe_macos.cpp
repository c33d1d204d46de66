#include "protocol/output_pipe.h"

namespace qm {

// macOS pipes cannot be sized by the process; the kernel grows a busy pipe's
// buffer by itself.
std::size_t widen_output_pipe(int) { return 0; }

}  // namespace qm
