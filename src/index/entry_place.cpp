#include "index/entry_place.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <utility>
#include <optional>
#include <vector>

#include "common/os_error.h"
#include "common/path_components.h"
#include "fs/directory_cursor.h"
#include "fs/stat_fields.h"
#include "index/entry_lookup.h"

namespace qm {
namespace {

// Opens `name` below `at` as the next directory on the way; expected: what the
// index holds for it (none above the root).
Result<UniqueFd> step_down(int at, std::string_view name, const std::optional<FileId>& expected) {
  UniqueFd next(open_search_directory_at(at, name));
  if (next.get() < 0) {
    const int error = errno;
    // A link fails the open (it is never followed); say so rather than "not a directory".
    struct stat st;
    const std::string c_name(name);
    if (name.find('\0') == std::string_view::npos && ::fstatat(at, c_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      return CommandError{kPathChangedError};
    }
    return CommandError{os_error_text(error)};
  }
  struct stat st;
  if (::fstat(next.get(), &st) != 0) return CommandError{last_os_error_text()};
  if (stat_file_flags(st) & kDatalessFlag) return CommandError{kPathChangedError};
  if (expected && (stat_device(st) != expected->device || static_cast<std::uint64_t>(st.st_ino) != expected->inode)) {
    return CommandError{kItemChangedError};
  }
  return next;
}

// Shares what one walk opened.
std::shared_ptr<const UniqueFd> shared(UniqueFd directory) {
  return std::make_shared<const UniqueFd>(std::move(directory));
}

// From "/" down to the directory holding `id`, every indexed ancestor checked;
// each indexed directory opened is handed to keep(directory id, descriptor).
template <class Keep>
Result<EntryPlace> open_from_slash(const Index& index, EntryId id, const std::vector<EntryId>& ancestors, Keep&& keep) {
  // ancestors ends with the root (0) unless the entry is the root itself.
  const PathComponents root = split_path_components(index.os_root());
  if (!root.absolute) return CommandError{os_error_text(EINVAL)};

  UniqueFd directory(open_search_directory_at(AT_FDCWD, "/"));
  if (directory.get() < 0) return CommandError{last_os_error_text()};
  if (id == 0 && root.parts.empty()) return EntryPlace{shared(std::move(directory)), "."};  // the root is "/" itself
  // Down the root's path: its last component is the root (entry 0), opened
  // only when the entry is below it.
  const std::size_t above_root = root.parts.size() - 1;
  for (std::size_t i = 0; i < root.parts.size(); ++i) {
    if (i == above_root && id == 0) return EntryPlace{shared(std::move(directory)), std::string(root.parts[i])};
    auto next = step_down(directory.get(), root.parts[i],
                          i == above_root ? std::optional<FileId>(index.file_id(0)) : std::nullopt);
    if (!next) return std::move(next).take_error();
    directory = std::move(next).value();
  }
  if (root.parts.empty()) {
    // A root of "/": the directory held is "/" itself, which must be the indexed root.
    auto again = step_down(directory.get(), ".", index.file_id(0));
    if (!again) return std::move(again).take_error();
    directory = std::move(again).value();
  }
  auto at = shared(std::move(directory));
  keep(EntryId{0}, at);
  // Then the indexed ancestors below the root, outermost first (the root is
  // last in the list, and the list is not empty: the entry is not the root).
  for (std::size_t i = ancestors.size() - 1; i-- > 0;) {
    const EntryId ancestor = ancestors[i];
    auto next = step_down(at->get(), index.os_name(ancestor), index.file_id(ancestor));
    if (!next) return std::move(next).take_error();
    at = shared(std::move(next).value());
    keep(ancestor, at);
  }
  return EntryPlace{std::move(at), std::string(index.os_name(id))};
}

// From a held ancestor, ancestors[held], down to the directory holding `id`.
Result<EntryPlace> open_from_held(const Index& index, EntryId id, const std::vector<EntryId>& ancestors,
                                  std::size_t held, std::shared_ptr<const UniqueFd> at, OpenedDirectories& opened) {
  for (std::size_t i = held; i-- > 0;) {
    const EntryId ancestor = ancestors[i];
    auto next = step_down(at->get(), index.os_name(ancestor), index.file_id(ancestor));
    if (!next) return std::move(next).take_error();
    at = shared(std::move(next).value());
    opened.keep(ancestor, at);
  }
  return EntryPlace{std::move(at), std::string(index.os_name(id))};
}

Result<EntryPlace> open_entry_parent_once(const Index& index, EntryId id, OpenedDirectories* opened) {
  // The indexed directories between the root and the entry, innermost first.
  std::vector<EntryId> ancestors;
  for (EntryId at = id; at != 0; at = index.parent(at)) ancestors.push_back(index.parent(at));
  if (opened) {
    for (std::size_t i = 0; i < ancestors.size(); ++i) {
      if (auto held = opened->find(ancestors[i])) return open_from_held(index, id, ancestors, i, std::move(held), *opened);
    }
    return open_from_slash(index, id, ancestors,
                           [&](EntryId directory, const std::shared_ptr<const UniqueFd>& at) { opened->keep(directory, at); });
  }
  return open_from_slash(index, id, ancestors, [](EntryId, const std::shared_ptr<const UniqueFd>&) {});
}

}  // namespace

Result<EntryPlace> open_entry_parent(const Index& index, EntryId id, OpenedDirectories* opened) {
  auto place = open_entry_parent_once(index, id, opened);
  // Held directories count against the process's descriptor limit: when that
  // is what stopped the walk, they are let go and the walk tried once more.
  if (!place && opened && opened->size() > 0 && (place.error() == os_error_text(EMFILE) || place.error() == os_error_text(ENFILE))) {
    opened->clear();
    place = open_entry_parent_once(index, id, opened);
  }
  return place;
}

}  // namespace qm
