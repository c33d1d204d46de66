#include "protocol/output_pipe.h"

#include <fcntl.h>

namespace qm {

std::size_t widen_output_pipe(int fd) {
  // Fails for anything that is not a pipe: a file, a terminal, a socket.
  const int held = ::fcntl(fd, F_GETPIPE_SZ);
  if (held < 0) return 0;
  if (static_cast<std::size_t>(held) >= kOutputPipeBytes) return static_cast<std::size_t>(held);
  // Above the system's limit for unprivileged processes (fs.pipe-max-size) the
  // request fails and the pipe keeps its size.
  const int widened = ::fcntl(fd, F_SETPIPE_SZ, static_cast<int>(kOutputPipeBytes));
  return static_cast<std::size_t>(widened < 0 ? held : widened);
}

}  // namespace qm
