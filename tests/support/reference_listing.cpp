#include "fs/dir_listing.h"

#include <cstdlib>

#include "common/utf8.h"
#include "fs/fast_reader.h"
#include "fs/portable_reader.h"

namespace qm {

// Looked up on every call, so setting or clearing it takes effect at once.
bool standard_readdir_requested() { return std::getenv("QUILLMARSH_STANDARD_READDIR") != nullptr; }

std::string join_path(std::string_view directory, std::string_view name) {
  std::string path;
  path.reserve(directory.size() + 1 + name.size());
  path.append(directory);
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

ListedEntry* append_listed_entry(CompactListing& out, std::string_view name) {
  const std::size_t offset = out.names.size();
  const bool text = is_valid_utf8(name);
  if (text) {
    out.names.append(name);
  } else {
    append_lossy_utf8(out.names, name);
  }
  const std::size_t length = out.names.size() - offset;
  if (out.names.size() > UINT32_MAX || length > UINT16_MAX) {
    out.names.resize(offset);
    return nullptr;
  }
  ListedEntry& entry = out.entries.emplace_back();
  entry.name_offset = static_cast<std::uint32_t>(offset);
  entry.name_length = static_cast<std::uint16_t>(length);
  if (!text) out.raw_names.push_back({static_cast<std::uint32_t>(out.entries.size() - 1), std::string(name)});
  return &entry;
}

DirListing list_directory(std::string_view path, EntryId parent) {
  if (standard_readdir_requested()) return list_directory_portable(path, parent);
  auto fast = read_directory_fast(path, parent);
  // Whatever the fast reader gathered is dropped; the portable reader starts over.
  if (!fast) return list_directory_portable(path, parent);
  return std::move(fast).value();
}

CompactListing list_directory_compact(std::string_view path) {
  if (standard_readdir_requested()) return list_directory_compact_portable(path);
  auto fast = read_directory_fast_compact(path);
  if (!fast) return list_directory_compact_portable(path);
  return std::move(fast).value();
}

}  // namespace qm
