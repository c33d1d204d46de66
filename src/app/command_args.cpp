#include "app/command_args.h"

#include <string>
#include <vector>

#include "protocol/args.h"

namespace qm {
namespace {

std::vector<std::string> string_elements(const JsonValue& array) {
  std::vector<std::string> out;
  for (const JsonValue& element : array.as_array()) {
    if (element.is_string()) out.emplace_back(element.as_string());
  }
  return out;
}

std::vector<std::string> string_elements(const JsonValue& args, std::string_view key) {
  const JsonValue& value = arg_value(args, key);
  return value.is_array() ? string_elements(value) : std::vector<std::string>();
}

}  // namespace

std::uint64_t read_entry_id(const JsonValue& args) { return unsigned_arg(args, "id", 0); }

Result<ScanRequest> read_scan_args(const JsonValue& args) {
  const JsonValue& root = arg_value(args, "root");
  if (!root.is_string()) return CommandError{kMissingRootError};
  ScanRequest scan;
  scan.root = root.as_string();
  scan.mode = string_arg(args, "mode", "analysis");
  scan.minimum = scan.mode == "large" ? kLargeFileSize : unsigned_arg(args, "minimum", kScanMinimum);
  scan.include_hidden = bool_arg(args, "includeHidden", false);
  scan.exclude_paths = string_elements(args, "excludePaths");
  scan.exclude_names = string_elements(args, "excludeNames");
  return scan;
}

LargeQuery read_large_args(const JsonValue& args) {
  LargeQuery large;
  large.minimum = unsigned_arg(args, "minimum", kLargeItemsMinimum);
  large.search = string_arg(args, "search", "");
  large.category = string_arg(args, "category", "all");
  if (const JsonObject* categories = object_arg(args, "categories")) {
    for (const auto& [name, value] : *categories) {
      if (value.is_array()) large.categories.push_back({name, string_elements(value)});
    }
  }
  large.offset = unsigned_arg(args, "offset", 0);
  return large;
}

Result<const JsonArray*> read_paths_arg(const JsonValue& args) {
  const JsonArray* paths = array_arg(args, "paths");
  if (!paths) return CommandError{kMissingPathsError};
  return paths;
}

Result<TerminateArgs> read_terminate_args(const JsonValue& args) {
  const JsonValue& pid = arg_value(args, "pid");
  // A number beyond the largest process id names no process: cut to its low
  // bits it would name another one (2^32 + S is S).
  if (!pid.is_unsigned() || pid.as_unsigned() > kLargestPid) return CommandError{kMissingPidError};
  TerminateArgs terminate;
  terminate.pid = static_cast<Pid>(pid.as_unsigned());
  terminate.force = bool_arg(args, "force", false);
  return terminate;
}

}  // namespace qm
