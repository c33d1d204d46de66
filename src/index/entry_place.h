#pragma once
// Reaching an indexed entry on disk name by name: the directory that holds it
// is opened from "/" through the root's path and the entry's indexed
// ancestors, one name at a time, never through a symbolic link, so a link
// swapped in anywhere on the way is refused instead of followed, and no path
// length limit applies however deep the entry is. This is how "entry" and
// "hash" open what they check and read.
#include <string>

#include "common/result.h"
#include "common/unique_fd.h"
#include "index/index.h"

namespace qm {

// The directory that holds an entry now, and the entry's name in it.
struct EntryPlace {
  UniqueFd directory;  // opened only to reach names in it
  std::string name;    // as the system has it; "." for a root that is "/"
};

// Opens the directory holding a valid entry. Fails with kPathChangedError when a
// directory on the way is a symbolic link (or a placeholder) now, with
// kItemChangedError when an indexed ancestor (the root included) is another
// object now, and with the operating-system error text when one cannot be opened.
Result<EntryPlace> open_entry_parent(const Index& index, EntryId id);

}  // namespace qm
