#pragma once
// The arguments of each command, read out of a request's "args" with their
// kinds and defaults (protocol/args.h says what counts as each kind).
#include <cstdint>

#include "common/result.h"
#include "index/scan.h"
#include "protocol/json_value.h"
#include "query/large_items.h"
#include "system/process_table.h"

namespace qm {

inline constexpr const char* kMissingRootError = "Missing root";
inline constexpr const char* kMissingPathsError = "Missing paths";
inline constexpr const char* kMissingPidError = "Missing PID";

// "id", read for every request before the command is looked at: 0 addresses the root.
std::uint64_t read_entry_id(const JsonValue& args);

// scan: "root" required; "mode" "analysis"; "minimum" 204800, or kLargeFileSize
// without reading it when the mode is "large"; "includeHidden" false;
// "excludePaths" and "excludeNames" keep their string elements.
Result<ScanRequest> read_scan_args(const JsonValue& args);

// large: "minimum" 104857600, "search" "", "category" "all", "categories" {}
// (its array-valued members, in key order, with their string elements), "offset" 0.
LargeQuery read_large_args(const JsonValue& args);

// forget and measure: "paths" required as an array.
Result<const JsonArray*> read_paths_arg(const JsonValue& args);

struct TerminateArgs {
  Pid pid = 0;  // "pid", at most kLargestPid (a larger one is "Missing PID")
  bool force = false;
};
Result<TerminateArgs> read_terminate_args(const JsonValue& args);

}  // namespace qm
