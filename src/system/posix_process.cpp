#include "system/posix_process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace qm {

std::uint64_t monotonic_ns() {
  timespec now{};
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0 || now.tv_sec < 0) return 0;
  return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(now.tv_nsec);
}

Pid own_pid() { return static_cast<Pid>(getpid()); }

SignalOutcome send_signal(Pid pid, Signal signal) {
  // kill() reads 0 and negative ids as process groups (-1 is every process we may
  // signal), so only ids of single processes are passed on.
  if (pid == 0 || pid > static_cast<Pid>(INT_MAX)) return SignalOutcome::NotDelivered;
  const int number = signal == Signal::Kill ? SIGKILL : SIGTERM;
  if (kill(static_cast<pid_t>(pid), number) == 0) return SignalOutcome::Delivered;
  if (errno == ESRCH) return SignalOutcome::Exited;
  return errno == EINVAL ? SignalOutcome::Unsupported : SignalOutcome::NotDelivered;
}

SignalOutcome RecheckedHold::kill_with(Signal signal) {
  if (!still_same_()) return SignalOutcome::Exited;
  return send_signal(pid_, signal);
}

}  // namespace qm
