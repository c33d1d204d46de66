#pragma once
// The POSIX calls every provider makes the same way: the monotonic clock that
// times refreshes, the engine's own process id, and signal delivery.
#include <cstdint>

#include "system/system_info_provider.h"

namespace qm {

// CLOCK_MONOTONIC in nanoseconds; 0 when the clock cannot be read.
std::uint64_t monotonic_ns();

Pid own_pid();

// kill(2) with SIGTERM or SIGKILL. Ids that kill() would read as a process
// group (0, and those above INT_MAX, negative as pid_t) are not delivered to.
SignalOutcome send_signal(Pid pid, Signal signal);

}  // namespace qm
