#pragma once
#include "app/engine.h"

namespace qm {

// Serves requests from input_fd until end of input, a read failure or a line that
// is not valid UTF-8, with an engine that works through seams; replies go to
// standard output. Returns the exit status (0).
int serve_requests(int input_fd, const Seams& seams);

}  // namespace qm
