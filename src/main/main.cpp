#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "common/thread_pool.h"
#include "protocol/serve_loop.h"

namespace {

// A standard descriptor the parent left closed is pointed at /dev/null, so no
// file the engine opens later can take its number (replies would go into it).
void open_missing_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

}  // namespace

int main() {
  // A closed stdout must fail writes, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  open_missing_standard_descriptors();
  try {
    qm::init_process_pool(qm::default_pool_size());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillmarsh: cannot start worker threads: %s\n", error.what());
    return 70;
  }
  return qm::serve_requests(STDIN_FILENO);
}
