#pragma once
// The POSIX calls every provider makes the same way: the monotonic clock that
// times refreshes, the engine's own process id, and signal delivery.
#include <cstdint>
#include <functional>

#include "system/system_info_provider.h"

namespace qm {

// CLOCK_MONOTONIC in nanoseconds; 0 when the clock cannot be read.
std::uint64_t monotonic_ns();

Pid own_pid();

// kill(2) with SIGTERM or SIGKILL. Ids that kill() would read as a process
// group (0, and those above INT_MAX, negative as pid_t) are not delivered to.
// No such process (ESRCH) is Exited.
SignalOutcome send_signal(Pid pid, Signal signal);

// A hold with nothing to pin the process by: right before kill() it asks
// still_same whether the id still names the checked process (the platform
// compares start times) and sends nothing when it does not. What is left
// between that check and kill() is a system call's time.
class RecheckedHold final : public ProcessHold {
 public:
  RecheckedHold(Pid pid, std::function<bool()> still_same) : pid_(pid), still_same_(std::move(still_same)) {}
  SignalOutcome kill_with(Signal signal) override;

 private:
  Pid pid_;
  std::function<bool()> still_same_;
};

}  // namespace qm
