#include "index/entry_lookup.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "common/os_error.h"
#include "fs/stat_fields.h"
#include "fs/stat_record.h"
#include "index/entry_place.h"

namespace qm {

Result<EntryId> indexed_id(const Index& index, std::uint64_t id) {
  if (index.any_removed() && id <= UINT32_MAX && index.is_removed(static_cast<EntryId>(id))) {
    return CommandError{kItemRemovedError};
  }
  if (!index.valid(id)) return CommandError{kUnknownEntryError};
  return static_cast<EntryId>(id);
}

Result<Item> lookup_entry(const Index& index, std::uint64_t id) {
  auto checked = indexed_id(index, id);
  if (!checked) return std::move(checked).take_error();
  const EntryId entry_id = *checked;
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

  // Every directory above the item, from "/" down, must be a real, present
  // directory (not a link) and, from the root on, the one indexed; the item is
  // then examined in the directory reached that way.
  auto place = open_entry_parent(index, indexed->id);
  if (!place) return std::move(place).take_error();
  struct stat st;
  if (::fstatat(place->directory_fd(), place->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return CommandError{last_os_error_text()};
  }
  if (S_ISLNK(st.st_mode) || (stat_file_flags(st) & kDatalessFlag)) return CommandError{kPathChangedError};
  if (!stat_is_admitted(st)) return CommandError{kNotAdmittedError};
  const EntryMetadata fresh = metadata_from_stat(st);
  // The kind is compared too: a freed inode number is soon reused, so a directory
  // replaced by a file (or the reverse) can come back with the same identity.
  const EntryMetadata& was = indexed->metadata;
  const bool same = fresh.file == was.file && fresh.directory == was.directory &&
                    (was.directory || (fresh.size == was.size && fresh.modified == was.modified));
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
