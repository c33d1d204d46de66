#pragma once
#include <string_view>

#include "fs/dir_listing.h"

namespace qm {

// The portable reader: the directory stream (opendir/readdir) and one lstat per
// entry on the joined path. Never fails; failures are folded into the counts.
DirListing list_directory_portable(std::string_view path, EntryId parent);

// The same reading in compact form: same entries, order and counts.
CompactListing list_directory_compact_portable(std::string_view path);

}  // namespace qm
