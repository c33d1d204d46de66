#pragma once
#include <cstdint>
#include <string_view>

#include "app/commands.h"
#include "app/engine.h"
#include "protocol/request.h"

namespace qm {

enum class CommandName : std::uint8_t {
  Unknown,
  Scan,
  Hash,
  Large,
  Entry,
  Forget,
  System,
  Summary,
  Measure,
  Children,
  Terminate,
  Duplicates,
};

// The command with exactly this name (case-sensitive bytes), or Unknown.
CommandName command_by_name(std::string_view name);

// Routes one request to its command with its arguments read and defaulted;
// returns the command's result or CommandError unchanged, or "Unknown command",
// "Missing root", "Missing paths", "Missing PID" from the dispatcher itself.
// "scan" and "duplicates" report their progress to progress.
CommandResult dispatch_command(Engine& engine, const Request& request, ProgressSink& progress);

}  // namespace qm
