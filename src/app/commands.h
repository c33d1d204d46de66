#pragma once
// The command handlers the dispatcher routes to. Each lives in the file named
// after its command, in its subsystem's folder. Arguments arrive already read
// with their kinds and defaults; the dispatcher has made the required-argument checks.
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "index/engine.h"
#include "protocol/json_value.h"

namespace qm {

using CommandResult = Result<JsonValue>;

struct ScanArgs {
  std::string root;
  std::string mode = "analysis";
  std::uint64_t minimum = 204800;  // 10485760 when mode is "large"
  bool include_hidden = false;
  std::vector<std::string> exclude_paths;  // string elements as given (the scan canonicalises them)
  std::vector<std::string> exclude_names;  // string elements
};

struct LargeArgs {
  std::uint64_t minimum = 104857600;
  std::string search;
  std::string category = "all";
  JsonObject categories;
  std::uint64_t offset = 0;
};

// index/
CommandResult scan_command(Engine& engine, const ScanArgs& args, std::uint64_t request_id);
CommandResult summary_command(Engine& engine);
CommandResult forget_command(Engine& engine, const JsonArray& paths);
CommandResult measure_command(const JsonArray& paths);
// query/
CommandResult entry_command(Engine& engine, std::uint64_t id);
CommandResult children_command(Engine& engine, std::uint64_t id, std::uint64_t offset);
CommandResult large_command(Engine& engine, const LargeArgs& args);
// hashing/
CommandResult hash_command(Engine& engine, std::uint64_t id);
CommandResult duplicates_command(Engine& engine, std::uint64_t minimum, std::uint64_t request_id);
// system/
CommandResult system_command();
CommandResult terminate_command(std::uint32_t pid, bool force);

inline constexpr const char* kUnknownCommandError = "Unknown command";

}  // namespace qm
