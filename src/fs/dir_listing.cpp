#include "fs/dir_listing.h"

#include <dirent.h>

#include <cerrno>
#include <cstdlib>

namespace qm {

std::string join_path(std::string_view directory, std::string_view name) {
  std::string path;
  path.reserve(directory.size() + 1 + name.size());
  path.append(directory);
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

namespace {

// opendir/readdir and one stat_entry per entry.
DirListing list_portable(std::string_view path, EntryId parent) {
  DirListing listing;
  if (path.find('\0') != std::string_view::npos) {
    listing.errors = 1;
    return listing;
  }
  const std::string c_path(path);
  DIR* dir = ::opendir(c_path.c_str());
  if (!dir) {
    listing.errors = 1;
    return listing;
  }
  for (;;) {
    errno = 0;
    const dirent* item = ::readdir(dir);
    if (!item) {
      if (errno != 0) ++listing.errors;
      break;
    }
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    auto entry = stat_entry(join_path(path, name), 0, parent);
    if (entry) {
      listing.entries.push_back(std::move(entry).value());
    } else {
      ++listing.skipped;
    }
  }
  ::closedir(dir);
  return listing;
}

}  // namespace

DirListing list_directory(std::string_view path, EntryId parent) { return list_portable(path, parent); }

CompactListing list_directory_compact(std::string_view path) {
  DirListing full = list_directory(path, 0);
  CompactListing compact;
  compact.errors = full.errors;
  compact.skipped = full.skipped;
  compact.entries.reserve(full.entries.size());
  for (const auto& m : full.entries) {
    ListedEntry e;
    e.size = m.size;
    e.allocated = m.allocated;
    e.modified = m.modified;
    e.links = m.links;
    e.directory = m.directory;
    const auto colon = m.identity.find(':');
    e.device = std::strtoull(m.identity.substr(0, colon).c_str(), nullptr, 10);
    e.inode = std::strtoull(m.identity.substr(colon + 1).c_str(), nullptr, 10);
    e.name_offset = static_cast<std::uint32_t>(compact.names.size());
    e.name_length = static_cast<std::uint16_t>(m.name.size());
    compact.names.append(m.name);
    compact.entries.push_back(e);
  }
  return compact;
}

}  // namespace qm
