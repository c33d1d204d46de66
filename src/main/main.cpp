#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "app/serve_loop.h"
#include "common/thread_pool.h"

namespace {

// A standard descriptor the parent left closed is held by one end of a pipe, so
// no descriptor the engine opens later can take its number (replies would go
// into it). Input held so ends at once; output held so fails like a closed
// reader and is discarded. No file is opened for this.
void hold_missing_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    int ends[2];
    if (::pipe(ends) != 0) continue;
    const int keep = fd == STDIN_FILENO ? ends[0] : ends[1];
    ::close(fd == STDIN_FILENO ? ends[1] : ends[0]);
    if (keep != fd) {
      ::dup2(keep, fd);
      ::close(keep);
    }
  }
}

}  // namespace

int main() {
  // A closed stdout must fail writes, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  hold_missing_standard_descriptors();
  try {
    qm::init_process_pool(qm::default_pool_size());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillmarsh: cannot start worker threads: %s\n", error.what());
    return 70;
  }
  // The one setting the engine reads: when present (with any value), every
  // directory is listed with the portable reader.
  qm::Seams seams;
  seams.directories = &qm::directory_reader_for(std::getenv("QUILLMARSH_STANDARD_READDIR") != nullptr);
  return qm::serve_requests(STDIN_FILENO, seams);
}
