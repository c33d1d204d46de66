#pragma once
// The "system" and "terminate" commands over any SystemInfoProvider. The
// dispatcher's entry points (protocol/commands.h) run them with the platform's
// provider; tests run them with a fake one.
#include <chrono>
#include <cstdint>

#include "protocol/commands.h"
#include "system/system_info_provider.h"

namespace qm {

inline constexpr std::chrono::nanoseconds kSystemSamplingPause = std::chrono::milliseconds(220);
inline constexpr std::chrono::nanoseconds kExitCheckPause = std::chrono::milliseconds(120);
inline constexpr int kExitChecks = 30;

inline constexpr const char* kCannotVerifyUserError = "Cannot verify current user";
inline constexpr const char* kProcessExitedError = "Process has exited";
inline constexpr const char* kProtectedProcessError = "System or another user's process is protected";
inline constexpr const char* kProtectedAncestorError = "Quillmarsh and its parent processes are protected";
inline constexpr const char* kSignalNotSentError =
    "The platform could not send this signal. Use force quit if appropriate.";
inline constexpr const char* kStillRunningError = "The process is still running; exit could not be confirmed.";

CommandResult system_command(SystemInfoProvider& provider);
CommandResult terminate_command(SystemInfoProvider& provider, Pid pid, bool force);

}  // namespace qm
