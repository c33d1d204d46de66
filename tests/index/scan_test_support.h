#pragma once
// Small helpers shared by the index tests: running a scan, finding entries by
// path, reading summary members.
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "index/engine.h"
#include "protocol/commands.h"
#include "protocol/json_value.h"

namespace qm::test {

inline ScanArgs scan_args(std::string root, std::string mode = "analysis", std::uint64_t minimum = 204800) {
  ScanArgs args;
  args.root = std::move(root);
  args.mode = std::move(mode);
  args.minimum = minimum;
  return args;
}

// A member of an object value; null when absent or when value is not an object.
inline const JsonValue& member(const JsonValue& value, std::string_view key) {
  static const JsonValue null_value{};
  if (!value.is_object()) return null_value;
  const JsonValue* found = value.as_object().find(key);
  return found ? *found : null_value;
}

inline std::uint64_t number(const JsonValue& value, std::string_view key) {
  const JsonValue& found = member(value, key);
  return found.is_unsigned() ? found.as_unsigned() : UINT64_MAX;
}

// The id of the entry with this path (removed entries included), or kNoEntry.
inline EntryId find_entry(const Index& index, std::string_view path) {
  for (EntryId id = 0; id < index.count(); ++id) {
    if (index.entry_path(id) == path) return id;
  }
  return kNoEntry;
}

// st_blocks * 512 of a path, without following links.
inline std::uint64_t allocated_on_disk(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return UINT64_MAX;
  return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

}  // namespace qm::test
