#pragma once
// Reaching an indexed entry on disk name by name: the directory that holds it
// is opened from "/" through the root's path and the entry's indexed
// ancestors, one name at a time, never through a symbolic link, so a link
// swapped in anywhere on the way is refused instead of followed, and no path
// length limit applies however deep the entry is. This is how "entry" and
// "hash" open what they check and read.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/result.h"
#include "common/unique_fd.h"
#include "index/index.h"

namespace qm {

// The directory that holds an entry now, and the entry's name in it.
struct EntryPlace {
  std::shared_ptr<const UniqueFd> directory;  // opened only to reach names in it
  std::string name;                           // as the system has it; "." for a root that is "/"

  int directory_fd() const { return directory->get(); }
};

// Indexed directories already reached from "/" and checked, held open for one
// command that reaches many entries (a duplicate search): an entry below a
// held directory is reached from it, not from "/", which spares one open and
// one check per ancestor per file. A descriptor keeps naming the directory
// that was checked whatever is renamed later, so nothing unchecked is entered.
// At most capacity() are held (the least recently used is closed first); safe
// to share between threads.
class OpenedDirectories {
 public:
  // A quarter of the process's soft descriptor limit, from 16 to 256: a
  // search visits files in inode order, which on many trees jumps between
  // directories, and a holder smaller than the directories in play would
  // reopen them all the time.
  OpenedDirectories();
  explicit OpenedDirectories(std::size_t capacity);

  std::size_t capacity() const { return capacity_; }

  std::shared_ptr<const UniqueFd> find(EntryId directory);
  void keep(EntryId directory, std::shared_ptr<const UniqueFd> descriptor);
  // Closes every held descriptor (they may still be in use by a caller).
  void clear();
  std::size_t size() const;

 private:
  struct Held {
    EntryId directory;
    std::uint64_t last_use;
    std::shared_ptr<const UniqueFd> descriptor;
  };
  const std::size_t capacity_;
  mutable std::mutex lock_;
  std::vector<Held> held_;  // guarded by lock_
  std::uint64_t uses_ = 0;  // guarded by lock_
};

// Opens the directory holding a valid entry. Fails with kPathChangedError when a
// directory on the way is a symbolic link (or a placeholder) now, with
// kItemChangedError when an indexed ancestor (the root included) is another
// object now, and with the operating-system error text when one cannot be opened.
// With `opened`, the walk starts at the nearest held ancestor and every directory
// it opens and checks is held there for the next entries.
Result<EntryPlace> open_entry_parent(const Index& index, EntryId id, OpenedDirectories* opened = nullptr);

}  // namespace qm
