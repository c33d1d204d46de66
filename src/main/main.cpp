#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "common/thread_pool.h"
#include "protocol/serve_loop.h"

int main() {
  // A closed stdout must fail writes, not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    qm::init_process_pool(qm::default_pool_size());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quillmarsh: cannot start worker threads: %s\n", error.what());
    return 70;
  }
  return qm::serve_requests(STDIN_FILENO);
}
