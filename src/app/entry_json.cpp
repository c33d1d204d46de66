#include "app/entry_json.h"

#include <charconv>

namespace qm {
namespace {

// The members of an item's object in key order, handed to member(key, value)
// with value a std::uint64_t, a bool, a std::string_view or an optional
// std::uint64_t (null when empty). One list for both forms, value and stream.
template <class Member>
void for_each_entry_member(const Item& item, Member&& member) {
  const EntryMetadata& m = item.metadata;
  member("allocated", m.allocated);
  member("directory", m.directory);
  member("id", std::uint64_t{item.id});
  member("identity", std::string_view(IdentityText(m.file).view()));
  member("links", m.links);
  member("modified", m.modified);
  member("name", std::string_view(item.name));
  member("parent", item.parent != kNoEntry ? std::optional<std::uint64_t>(item.parent) : std::nullopt);
  member("path", std::string_view(item.path));
  member("size", m.size);
}

JsonValue value_of(std::uint64_t number) { return JsonValue(number); }
JsonValue value_of(bool flag) { return JsonValue(flag); }
JsonValue value_of(std::string_view text) { return JsonValue(text); }
JsonValue value_of(std::optional<std::uint64_t> number) { return number ? JsonValue(*number) : JsonValue(); }

void render_member_value(std::uint64_t number, JsonOut& out) { render_integer(number, out); }
void render_member_value(bool flag, JsonOut& out) { out.append(flag ? "true" : "false"); }
void render_member_value(std::string_view text, JsonOut& out) { render_json_string(text, out); }
void render_member_value(std::optional<std::uint64_t> number, JsonOut& out) {
  if (number) {
    render_integer(*number, out);
  } else {
    out.append("null");
  }
}

}  // namespace

IdentityText::IdentityText(FileId file) {
  char* end = std::to_chars(text_, text_ + 20, file.device).ptr;
  *end++ = ':';
  end = std::to_chars(end, text_ + sizeof text_, file.inode).ptr;
  length_ = static_cast<std::size_t>(end - text_);
}

JsonValue entry_object(const Item& item) {
  JsonObject object;
  // Inserted in key order, so every insert is an append.
  for_each_entry_member(item, [&](const char* key, auto value) { object.insert(key, value_of(value)); });
  return object;
}

JsonValue entry_objects(const std::vector<Item>& items) {
  JsonArray array;
  array.reserve(items.size());
  for (const Item& item : items) array.push_back(entry_object(item));
  return array;
}

void render_entry_object(const Item& item, JsonOut& out) {
  char separator = '{';
  for_each_entry_member(item, [&](const char* key, auto value) {
    out.push_back(separator);
    separator = ',';
    out.push_back('"');
    out.append(key);
    out.append("\":");
    render_member_value(value, out);
  });
  out.push_back('}');
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
