#pragma once
// Reaching an indexed entry on disk name by name: the directory that holds it
// is opened from "/" through the root's path and the entry's indexed
// ancestors, one name at a time, never through a symbolic link, so a link
// swapped in anywhere on the way is refused instead of followed, and no path
// length limit applies however deep the entry is. This is how "entry" and
// "hash" open what they check and read.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "common/unique_fd.h"
#include "fs/held_directories.h"
#include "index/index.h"

namespace qm {

// The directory that holds an entry now, and the entry's name in it.
struct EntryPlace {
  std::shared_ptr<const UniqueFd> directory;  // opened only to reach names in it
  std::string name;                           // as the system has it; "." for a root that is "/"

  int directory_fd() const { return directory->get(); }
};

// Indexed directories already reached from "/" and checked, held open for one
// command that reaches many entries (a duplicate search), keyed by entry id:
// an entry below a held directory is reached from it, not from "/", which
// spares one open and one check per ancestor per file.
using OpenedDirectories = HeldDirectories;

// Opens the directory holding a valid entry. Fails with kPathChangedError when a
// directory on the way is a symbolic link (or a placeholder) now, with
// kItemChangedError when an indexed ancestor (the root included) is another
// object now, and with the operating-system error text when one cannot be opened.
// With `opened`, the walk starts at the nearest held ancestor and every directory
// it opens and checks is held there for the next entries.
Result<EntryPlace> open_entry_parent(const Index& index, EntryId id, OpenedDirectories* opened = nullptr);

}  // namespace qm
