#pragma once

namespace qm {

// Serves requests from input_fd until end of input, a read failure or a line that
// is not valid UTF-8; replies go to standard output. Returns the exit status (0).
int serve_requests(int input_fd);

}  // namespace qm
