#include "protocol/command_args.h"

#include <vector>

namespace qm {
namespace {

constexpr std::uint64_t kScanMinimum = 204800;
constexpr std::uint64_t kLargeModeScanMinimum = 10485760;
constexpr std::uint64_t kLargeMinimum = 104857600;

std::vector<std::string> string_elements(const JsonValue& args, std::string_view key) {
  std::vector<std::string> out;
  const JsonArray* array = array_arg(args, key);
  if (!array) return out;
  for (const JsonValue& element : *array) {
    if (element.is_string()) out.push_back(element.as_string());
  }
  return out;
}

}  // namespace

const JsonValue& arg_value(const JsonValue& args, std::string_view key) {
  static const JsonValue null_value{};
  if (!args.is_object()) return null_value;
  const JsonValue* found = args.as_object().find(key);
  return found ? *found : null_value;
}

std::uint64_t unsigned_arg(const JsonValue& args, std::string_view key, std::uint64_t fallback) {
  const JsonValue& value = arg_value(args, key);
  return value.is_unsigned() ? value.as_unsigned() : fallback;
}

std::string string_arg(const JsonValue& args, std::string_view key, std::string_view fallback) {
  const JsonValue& value = arg_value(args, key);
  return value.is_string() ? value.as_string() : std::string(fallback);
}

bool bool_arg(const JsonValue& args, std::string_view key, bool fallback) {
  const JsonValue& value = arg_value(args, key);
  return value.is_bool() ? value.as_bool() : fallback;
}

const JsonArray* array_arg(const JsonValue& args, std::string_view key) {
  const JsonValue& value = arg_value(args, key);
  return value.is_array() ? &value.as_array() : nullptr;
}

const JsonObject* object_arg(const JsonValue& args, std::string_view key) {
  const JsonValue& value = arg_value(args, key);
  return value.is_object() ? &value.as_object() : nullptr;
}

std::uint64_t read_entry_id(const JsonValue& args) { return unsigned_arg(args, "id", 0); }

Result<ScanArgs> read_scan_args(const JsonValue& args) {
  const JsonValue& root = arg_value(args, "root");
  if (!root.is_string()) return CommandError{kMissingRootError};
  ScanArgs scan;
  scan.root = root.as_string();
  scan.mode = string_arg(args, "mode", "analysis");
  scan.minimum = scan.mode == "large" ? kLargeModeScanMinimum : unsigned_arg(args, "minimum", kScanMinimum);
  scan.include_hidden = bool_arg(args, "includeHidden", false);
  scan.exclude_paths = string_elements(args, "excludePaths");
  scan.exclude_names = string_elements(args, "excludeNames");
  return scan;
}

LargeArgs read_large_args(const JsonValue& args) {
  LargeArgs large;
  large.minimum = unsigned_arg(args, "minimum", kLargeMinimum);
  large.search = string_arg(args, "search", "");
  large.category = string_arg(args, "category", "all");
  if (const JsonObject* categories = object_arg(args, "categories")) large.categories = *categories;
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
  if (!pid.is_unsigned()) return CommandError{kMissingPidError};
  TerminateArgs terminate;
  terminate.pid = static_cast<std::uint32_t>(pid.as_unsigned() & 0xFFFFFFFFu);
  terminate.force = bool_arg(args, "force", false);
  return terminate;
}

}  // namespace qm
