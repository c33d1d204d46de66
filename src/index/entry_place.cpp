#include "index/entry_place.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
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

}  // namespace

Result<EntryPlace> open_entry_parent(const Index& index, EntryId id) {
  // The indexed directories between the root and the entry, outermost first.
  std::vector<EntryId> ancestors;
  for (EntryId at = id; at != 0; at = index.parent(at)) ancestors.push_back(index.parent(at));
  // ancestors now ends with the root (0) unless the entry is the root itself.
  const PathComponents root = split_path_components(index.os_root());
  if (!root.absolute) return CommandError{os_error_text(EINVAL)};

  EntryPlace place;
  place.directory = UniqueFd(open_search_directory_at(AT_FDCWD, "/"));
  if (place.directory.get() < 0) return CommandError{last_os_error_text()};
  if (id == 0 && root.parts.empty()) {
    place.name.push_back('.');  // the root is "/" itself
    return place;
  }
  // Down the root's path: its last component is the root (entry 0), opened
  // only when the entry is below it.
  const std::size_t above_root = root.parts.size() - 1;
  for (std::size_t i = 0; i < root.parts.size(); ++i) {
    if (i == above_root && id == 0) {
      place.name = std::string(root.parts[i]);
      return place;
    }
    auto next = step_down(place.directory.get(), root.parts[i],
                          i == above_root ? std::optional<FileId>(index.file_id(0)) : std::nullopt);
    if (!next) return std::move(next).take_error();
    place.directory = std::move(next).value();
  }
  if (root.parts.empty()) {
    // A root of "/": the directory held is "/" itself, which must be the indexed root.
    auto again = step_down(place.directory.get(), ".", index.file_id(0));
    if (!again) return std::move(again).take_error();
    place.directory = std::move(again).value();
  }
  // Then the indexed ancestors below the root, outermost first (the root is
  // last in the list, and the list is not empty: the entry is not the root).
  for (std::size_t i = ancestors.size() - 1; i-- > 0;) {
    const EntryId ancestor = ancestors[i];
    auto next = step_down(place.directory.get(), index.os_name(ancestor), index.file_id(ancestor));
    if (!next) return std::move(next).take_error();
    place.directory = std::move(next).value();
  }
  place.name = std::string(index.os_name(id));
  return place;
}

}  // namespace qm
