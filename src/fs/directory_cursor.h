#pragma once
// Opening directories one name at a time from a descriptor. Every name is
// opened relative to the directory above it and never through a symbolic
// link, and every directory opened is checked to be the object that was
// listed, so a walk only ever descends through what it listed (a directory
// swapped for a link, or for another directory, is refused), and no path
// handed to the system is longer than one name, however deep the tree.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string_view>

#include "common/unique_fd.h"
#include "fs/entry_metadata.h"
#include "fs/held_directories.h"

namespace qm {

// Opens the directory `name` below the directory descriptor `at` for reading
// (O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC; interrupted opens are
// retried): a link, a file or a fifo swapped in fails instead of being
// followed or blocking. -1 with errno set; a name with a NUL byte is never opened.
int open_directory_at(int at, std::string_view name);

// Opens the directory `name` below `at` only to open names below it (no read
// permission needed where the platform allows that), never through a link as
// its last component. -1 with errno set.
int open_search_directory_at(int at, std::string_view name);

// Opens an absolute path component by component from "/", each component a
// directory that is not a link. The last one is opened for reading when
// `for_reading`, else only to open names below it. -1 with errno set (ELOOP
// for a link on the way); a relative path fails with EINVAL.
UniqueFd open_directory_path(std::string_view absolute, bool for_reading);

// True when the descriptor's object is `file` (device and inode).
bool descriptor_is(int fd, const FileId& file);

// One directory on the way down from a cursor's top.
struct DirectoryStep {
  std::uint64_t key = 0;  // tells directories of one walk apart (an entry id, a counter)
  std::string_view name;  // as the directory above lists it
  FileId file;            // what it was when listed
};

// Opens directories of one walk below a top directory, keeping the
// descriptors of the last few directories on the way so that the next open
// below the same ancestors starts from the nearest one still held instead of
// the top. Holds at most max_held descriptors (besides the caller's top), however
// wide and deep the tree. One cursor per thread.
class DirectoryCursor {
 public:
  // top: the directory every walk of steps starts from (borrowed; it outlives the cursor).
  // shared: where the cursors of one walk (one per thread) hold the directories
  // they open on the way for one another (borrowed; none: this cursor's own
  // only). Threads of a walk take sibling directories in turn, and a cursor
  // whose own chain does not reach a directory's parent takes the parent from
  // there instead of opening and checking it again.
  DirectoryCursor(int top, std::size_t max_held, HeldDirectories* shared = nullptr);
  DirectoryCursor(const DirectoryCursor&) = delete;
  DirectoryCursor& operator=(const DirectoryCursor&) = delete;

  // Opens the last directory of steps for reading (no steps: the top itself),
  // steps[0] being a name in the top and every step a name in the one before.
  // Every directory on the way must be the one its step names: a step that
  // cannot be opened fails with its errno, one that is another object now with
  // ESTALE. The last one is left unchecked when check_last is false, for a
  // caller that checks it itself before using it (OpenDirectory::is_object).
  // The descriptor returned is the caller's.
  UniqueFd open(std::span<const DirectoryStep> steps, bool check_last = true);

  // Descriptors held now (for tests).
  std::size_t held() const { return held_.size(); }

 private:
  struct Held {
    std::uint64_t key;
    std::shared_ptr<const UniqueFd> fd;
  };

  int top_;
  std::size_t max_held_;
  HeldDirectories* shared_;
  std::size_t base_ = 0;    // the depth (step index) of held_.front()
  std::deque<Held> held_;  // a chain: each one a name in the one before
};

}  // namespace qm
