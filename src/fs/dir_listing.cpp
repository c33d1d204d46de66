#include "fs/dir_listing.h"

#include <cstdlib>

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
