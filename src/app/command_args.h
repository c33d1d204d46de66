#pragma once
// Reading command arguments out of a request's "args" value. An argument counts
// only in its one JSON kind; any other value, or no value, means its default.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/result.h"
#include "protocol/commands.h"
#include "protocol/json_value.h"

namespace qm {

inline constexpr const char* kMissingRootError = "Missing root";
inline constexpr const char* kMissingPathsError = "Missing paths";
inline constexpr const char* kMissingPidError = "Missing PID";

// The member of args with this key when args is an object that has it; otherwise null.
const JsonValue& arg_value(const JsonValue& args, std::string_view key);

// An integer literal from 0 to 2^64 - 1, else fallback (negative numbers,
// fractions, exponents and numeric strings do not count).
std::uint64_t unsigned_arg(const JsonValue& args, std::string_view key, std::uint64_t fallback);
std::string string_arg(const JsonValue& args, std::string_view key, std::string_view fallback);
bool bool_arg(const JsonValue& args, std::string_view key, bool fallback);
// Null when the argument is absent or not an array / object.
const JsonArray* array_arg(const JsonValue& args, std::string_view key);
const JsonObject* object_arg(const JsonValue& args, std::string_view key);

// "id", read for every request before the command is looked at: 0 addresses the root.
std::uint64_t read_entry_id(const JsonValue& args);

// scan: "root" required; "mode" "analysis"; "minimum" 204800, or 10485760 without
// reading it when the mode is "large"; "includeHidden" false; "excludePaths" and
// "excludeNames" keep their string elements.
Result<ScanArgs> read_scan_args(const JsonValue& args);

// large: "minimum" 104857600, "search" "", "category" "all", "categories" {}, "offset" 0.
LargeArgs read_large_args(const JsonValue& args);

// forget and measure: "paths" required as an array.
Result<const JsonArray*> read_paths_arg(const JsonValue& args);

struct TerminateArgs {
  std::uint32_t pid = 0;  // the low 32 bits of "pid"
  bool force = false;
};
Result<TerminateArgs> read_terminate_args(const JsonValue& args);

}  // namespace qm
