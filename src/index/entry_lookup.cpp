#include "index/entry_lookup.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "common/os_error.h"
#include "fs/stat_fields.h"

namespace qm {
namespace {

// The path without its last component; false when there is no parent ("/" or a bare name).
bool parent_path(std::string& path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const auto slash = path.rfind('/');
  if (slash == std::string::npos || path == "/") return false;
  path.resize(slash == 0 ? 1 : slash);
  return true;
}

}  // namespace

Result<Item> lookup_entry(const Index& index, std::uint64_t id) {
  if (index.any_removed() && id <= UINT32_MAX && index.is_removed(static_cast<EntryId>(id))) {
    return CommandError{kItemRemovedError};
  }
  if (!index.valid(id)) return CommandError{kUnknownEntryError};
  const auto entry_id = static_cast<EntryId>(id);
  Item item;
  item.id = entry_id;
  item.parent = index.parent(entry_id);
  item.name = index.name(entry_id);
  item.path = index.entry_path(entry_id);
  item.metadata = index.metadata(entry_id);
  return item;
}

Result<Item> revalidate_entry(const Index& index, std::uint64_t id) {
  auto indexed = lookup_entry(index, id);
  if (!indexed) return indexed;

  // The system's name for it: the text path may have U+FFFD in it.
  const std::string os_path = index.os_path(static_cast<EntryId>(id));
  // lstat would stop at a NUL and check a different path.
  if (os_path.find('\0') != std::string::npos) return CommandError{kNulByteError};

  // The item and every directory above it, up to "/", must be real and present.
  std::string current = os_path;
  for (;;) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0) return CommandError{last_os_error_text()};
    if (S_ISLNK(st.st_mode) || (stat_file_flags(st) & kDatalessFlag)) return CommandError{kPathChangedError};
    if (!parent_path(current)) break;
  }

  auto fresh = stat_entry(os_path);
  if (!fresh) return std::move(fresh).take_error();
  // The kind is compared too: a freed inode number is soon reused, so a directory
  // replaced by a file (or the reverse) can come back with the same identity.
  const EntryMetadata& was = indexed->metadata;
  const bool same = fresh->file == was.file && fresh->directory == was.directory &&
                    (was.directory || (fresh->size == was.size && fresh->modified == was.modified));
  if (!same) return CommandError{kItemChangedError};
  return indexed;
}

std::vector<Item> collect_entry_page(const Index& index, std::span<const EntryId> ids, std::uint64_t offset,
                                     std::size_t limit) {
  std::vector<Item> page;
  if (offset >= ids.size()) return page;
  const auto first = static_cast<std::size_t>(offset);
  // Written as a difference so that a huge limit cannot wrap around.
  const std::size_t end = first + std::min(limit, ids.size() - first);
  page.reserve(end - first);
  for (std::size_t i = first; i < end; ++i) {
    auto found = lookup_entry(index, ids[i]);
    if (found) page.push_back(std::move(found).value());
  }
  return page;
}

}  // namespace qm
