#include "system/terminate_process.h"

#include "system/process_records.h"

namespace qm {

namespace {

// True when target is the engine's process or one of its ancestors in the snapshot.
bool is_own_ancestry(const ProcessTable& table, Pid own_pid, Pid target) {
  Pid current = own_pid;
  // Each process is visited at most once, so a parent loop in a table read while
  // processes came and went cannot keep the walk going.
  for (std::size_t steps = 0; steps <= table.size(); ++steps) {
    if (current == target) return true;
    const Process* process = table.find(current);
    if (!process || !process->parent) return false;
    current = *process->parent;
  }
  return false;
}

}  // namespace

Result<bool> terminate_process(SystemInfoProvider& provider, Pid pid, bool force) {
  const System snapshot = provider.new_all();
  const Pid own_pid = provider.current_pid();
  const Process* own = snapshot.processes.find(own_pid);
  if (!own) return CommandError{kCannotVerifyUserError};
  const Process* target = snapshot.processes.find(pid);
  if (!target) return CommandError{provider.is_thread(pid) ? kThreadNotProcessError : kProcessExitedError};
  if (is_system_process(pid, target->user_id, own->user_id)) return CommandError{kProtectedProcessError};
  if (is_own_ancestry(snapshot.processes, own_pid, pid)) return CommandError{kProtectedAncestorError};

  // Held from here to the signal: the id may pass to a new process meanwhile,
  // the signal never does.
  const std::unique_ptr<ProcessHold> hold = provider.hold_process(*target);
  if (!hold) return CommandError{kProcessExitedError};
  switch (hold->kill_with(force ? Signal::Kill : Signal::Terminate)) {
    case SignalOutcome::Delivered: break;
    case SignalOutcome::Exited: return CommandError{kProcessExitedError};
    case SignalOutcome::NotDelivered:
    case SignalOutcome::Unsupported: return CommandError{kSignalNotSentError};
  }

  // The id alone could name a new process by now; the start time tells them apart.
  const std::uint64_t start_time = target->start_time;
  const std::uint64_t start_stamp = target->start_stamp;
  for (int check = 0; check < kExitChecks; ++check) {
    provider.pause(kExitCheckPause);
    const System fresh = provider.new_all();
    const Process* now = fresh.processes.find(pid);
    if (!now || now->start_time != start_time || now->start_stamp != start_stamp) return true;
  }
  return CommandError{kStillRunningError};
}

}  // namespace qm
