#pragma once
// The command handlers the dispatcher routes to, one file each, named after
// the command. Each runs the work of the layers below and turns the plain
// result into the reply's JSON. Arguments arrive already read with their kinds
// and defaults; the dispatcher has made the required-argument checks and hands
// the long-running commands the sink their progress goes to.
#include <cstdint>

#include "app/engine.h"
#include "common/progress_sink.h"
#include "common/result.h"
#include "index/scan.h"
#include "protocol/json_value.h"
#include "query/large_items.h"
#include "system/system_info_provider.h"

namespace qm {

using CommandResult = Result<JsonValue>;

inline constexpr const char* kUnknownCommandError = "Unknown command";

CommandResult scan_command(Engine& engine, const ScanRequest& request, ProgressSink& progress);
CommandResult summary_command(Engine& engine);
CommandResult forget_command(Engine& engine, const JsonArray& paths);
// The result refers to `paths` (it is written from them when rendered), so it
// must be rendered while they live: the serving loop writes each reply before
// its request goes.
CommandResult measure_command(Engine& engine, const JsonArray& paths);
CommandResult entry_command(Engine& engine, std::uint64_t id);
CommandResult children_command(Engine& engine, std::uint64_t id, std::uint64_t offset);
CommandResult large_command(Engine& engine, const LargeQuery& query);
CommandResult hash_command(Engine& engine, std::uint64_t id);
CommandResult duplicates_command(Engine& engine, std::uint64_t minimum, ProgressSink& progress);
CommandResult system_command(SystemInfoProvider& provider);
CommandResult terminate_command(SystemInfoProvider& provider, Pid pid, bool force);

}  // namespace qm
