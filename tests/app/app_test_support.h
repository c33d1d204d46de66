#pragma once
// Small helpers shared by the app tests: reading reply members, running commands.
#include <sys/stat.h>

#include <map>
#include <string>
#include <string_view>
#include <variant>

#include "app/commands.h"
#include "app/dispatcher.h"
#include "index/scan_test_support.h"
#include "protocol/json_value.h"
#include "protocol/json_writer.h"
#include "protocol/request.h"
#include "support/index_builder.h"
#include "support/temp_dir.h"

namespace qm::test {

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

// A temporary tree and an engine whose index was built from it.
struct IndexedEngine {
  TempDir dir;
  Engine engine;

  void index() { build_index_from_disk(engine.index, dir.path()); }

  // The id of the entry at a path relative to the tree ("" is the root); kNoEntry when absent.
  EntryId id_of(std::string_view relative) const {
    return find_entry(engine.index, relative.empty() ? dir.path() : dir / relative);
  }
};

// "scan" of root in the engine, its progress dropped.
inline CommandResult scan_command(Engine& engine, const ScanRequest& request) {
  static NoProgress quiet;
  return qm::scan_command(engine, request, quiet);
}

inline CommandResult duplicates_command(Engine& engine, std::uint64_t minimum) {
  static NoProgress quiet;
  return qm::duplicates_command(engine, minimum, quiet);
}

// The args value of a JSON text (the text must decode).
inline JsonValue args_of(std::string_view text) {
  auto decoded = decode_request(R"({"request":1,"command":"x","args":)" + std::string(text) + "}");
  return std::get<Request>(std::move(decoded)).args;
}

// A result as a tree of values: a streamed one (measure, duplicates) is
// rendered and read back, so its members can be looked at.
inline JsonValue materialized(const JsonValue& result) {
  if (result.kind() != JsonValue::Kind::Streamed) return result;
  return args_of(to_json(result));
}

// Decodes and dispatches one request line; the reply as "ok:<json>" or "error:<text>".
inline std::string run(Engine& engine, const std::string& line, ProgressSink& progress) {
  auto decoded = decode_request(line);
  if (!std::holds_alternative<Request>(decoded)) return "undecodable: " + line;
  const CommandResult result = dispatch_command(engine, std::get<Request>(decoded), progress);
  return result.ok() ? "ok:" + to_json(*result) : "error:" + result.error();
}

inline std::string run(Engine& engine, const std::string& line) {
  static NoProgress quiet;
  return run(engine, line, quiet);
}

// JSON text of a string, for building request lines.
inline std::string json_text(const std::string& text) { return to_json(JsonValue(text)); }

// The members of a one-level JSON object whose values are numbers or plain strings
// (as progress events are), each value as its raw text with string quotes removed.
// Returns an empty map for anything else.
inline std::map<std::string, std::string> flat_members(const std::string& line) {
  std::map<std::string, std::string> members;
  if (line.size() < 2 || line.front() != '{' || line.back() != '}') return {};
  std::size_t i = 1;
  const auto read_string = [&](std::string& out) {
    if (i >= line.size() || line[i] != '"') return false;
    const std::size_t close = line.find('"', i + 1);
    if (close == std::string::npos || line.find('\\', i) < close) return false;
    out = line.substr(i + 1, close - i - 1);
    i = close + 1;
    return true;
  };
  while (i < line.size() - 1) {
    std::string key, value;
    if (!read_string(key) || i >= line.size() || line[i] != ':') return {};
    ++i;
    if (line[i] == '"') {
      if (!read_string(value)) return {};
    } else {
      const std::size_t end = line.find_first_of(",}", i);
      value = line.substr(i, end - i);
      if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return {};
      i = end;
    }
    if (!members.emplace(key, value).second) return {};
    if (line[i] == ',') ++i;
  }
  return members;
}

}  // namespace qm::test
