#pragma once
// "terminate": signal a process after refusing system processes, other users'
// processes and the engine's own ancestors, then confirm that it exited.
#include <chrono>

#include "common/result.h"
#include "system/system_info_provider.h"

namespace qm {

inline constexpr std::chrono::nanoseconds kExitCheckPause = std::chrono::milliseconds(120);
inline constexpr int kExitChecks = 30;

inline constexpr const char* kCannotVerifyUserError = "Cannot verify current user";
inline constexpr const char* kProcessExitedError = "Process has exited";
inline constexpr const char* kThreadNotProcessError = "PID is a thread, not a process";
inline constexpr const char* kProtectedProcessError = "System or another user's process is protected";
inline constexpr const char* kProtectedAncestorError = "Quillmarsh and its parent processes are protected";
inline constexpr const char* kSignalNotSentError =
    "The platform could not send this signal. Use force quit if appropriate.";
inline constexpr const char* kStillRunningError = "The process is still running; exit could not be confirmed.";

// Checks in this order: the engine's own process is known, the target exists
// (an id that names a thread gets kThreadNotProcessError), it is no system
// process, it is not the engine or an ancestor; then takes hold of the checked
// process and sends SIGTERM (SIGKILL when force) through the hold, so a process
// given the id since the check is never signalled (kProcessExitedError, as for
// a process that ended); then checks up to kExitChecks times, a pause apart,
// that the process (same id and start time) is gone.
Result<bool> terminate_process(SystemInfoProvider& provider, Pid pid, bool force);

}  // namespace qm
