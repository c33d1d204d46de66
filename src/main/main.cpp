#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "app/serve_loop.h"
#include "common/allocator_reuse.h"
#include "common/descriptor_limit.h"
#include "common/thread_pool.h"
#include "protocol/output_pipe.h"

namespace {

// Takes fd's number with a new descriptor: a dup2 interrupted by a signal or
// racing another open (EBUSY) is repeated.
bool move_descriptor(int from, int fd) {
  for (;;) {
    if (::dup2(from, fd) == fd) return ::close(from) == 0 || errno == EINTR;
    if (errno != EINTR && errno != EBUSY) return false;
  }
}

// A standard descriptor the parent left closed is held by one end of a pipe, so
// no descriptor the engine opens later can take its number (replies would go
// into it). Input held so ends at once; output held so fails like a closed
// reader and is discarded. No file is opened for this. Returns the number of
// a descriptor that could not be held, or -1 when all three are held.
int hold_missing_standard_descriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    int ends[2];
    if (::pipe(ends) != 0) return fd;
    const int keep = fd == STDIN_FILENO ? ends[0] : ends[1];
    ::close(fd == STDIN_FILENO ? ends[1] : ends[0]);
    if (keep != fd && !move_descriptor(keep, fd)) {
      const int error = errno;
      ::close(keep);
      errno = error;
      return fd;
    }
  }
  return -1;
}

}  // namespace

int main() {
  // A closed stdout must fail writes, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  // Without all three numbers held, a directory or file the engine opens could
  // take the number of standard output: refuse to start instead.
  if (const int fd = hold_missing_standard_descriptors(); fd != -1) {
    std::fprintf(stderr, "quillmarsh: cannot hold standard descriptor %d: %s\n", fd, std::strerror(errno));
    return 71;
  }
  qm::raise_descriptor_limit();
  qm::keep_freed_memory_for_reuse();
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
  qm::widen_output_pipe(STDOUT_FILENO);
  return qm::serve_requests(STDIN_FILENO, seams);
}
