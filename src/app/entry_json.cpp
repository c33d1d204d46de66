#include "app/entry_json.h"

#include <charconv>

namespace qm {

std::string identity_text(FileId file) {
  char buffer[48];  // two 20-digit numbers and a colon
  char* end = std::to_chars(buffer, buffer + 20, file.device).ptr;
  *end++ = ':';
  end = std::to_chars(end, buffer + sizeof buffer, file.inode).ptr;
  return std::string(buffer, end);
}

JsonValue entry_object(const Item& item) {
  const EntryMetadata& m = item.metadata;
  JsonObject object;
  // Inserted in key order, so every insert is an append.
  object.insert("allocated", m.allocated);
  object.insert("directory", m.directory);
  object.insert("id", std::uint64_t{item.id});
  object.insert("identity", identity_text(m.file));
  object.insert("links", m.links);
  object.insert("modified", m.modified);
  object.insert("name", item.name);
  object.insert("parent", item.parent != kNoEntry ? JsonValue(std::uint64_t{item.parent}) : JsonValue());
  object.insert("path", item.path);
  object.insert("size", m.size);
  return object;
}

JsonValue entry_objects(const std::vector<Item>& items) {
  JsonArray array;
  array.reserve(items.size());
  for (const Item& item : items) array.push_back(entry_object(item));
  return array;
}

JsonValue summary_json(const ScanSummary& summary) {
  JsonObject object;
  object.insert("elapsedMs", summary.elapsed_ms);
  object.insert("entries", summary.counts.seen);
  object.insert("errors", summary.counts.errors);
  object.insert("generation", summary.generation);
  object.insert("limited", false);
  object.insert("mode", summary.mode);
  object.insert("retained", summary.retained);
  object.insert("root", summary.root ? entry_object(*summary.root) : JsonValue());
  object.insert("skipped", summary.counts.skipped);
  return object;
}

}  // namespace qm
