#pragma once
// A child process of a test, killed and reaped when its guard goes unless it
// was reaped first, so no test leaves a process behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qm::test {

class ChildGuard {
 public:
  ChildGuard() = default;
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;

  pid_t pid() const { return pid_; }

  // Waits for the end; the signal that ended the child (0 when none did).
  int reap() {
    int status = 0;
    const pid_t reaped = ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return reaped > 0 && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

  // True while the child has not exited (it is not reaped by asking).
  bool running() const {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
  }

 protected:
  pid_t pid_ = -1;
};

}  // namespace qm::test
