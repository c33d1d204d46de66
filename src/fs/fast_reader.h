#pragma once
#include <string_view>

#include "common/result.h"
#include "fs/dir_listing.h"

namespace qm {

// The platform's fast directory reader: getattrlistbulk on macOS, getdents64
// plus one fstatat per entry on Linux. It either reads the whole directory or
// fails with a text; list_directory then hands the directory to the portable
// reader, so these texts never reach the front end. On success `errors` is 0.
//
// Fails on: a NUL byte in the path, a failed open or read of the directory,
// and any per-entry failure other than an entry that vanished or is not
// admitted (those count as skipped, as the portable reader would count them).
// The bulk reader also fails on a name that is not valid UTF-8; the Linux
// reader converts such a name itself, exactly as the portable reader would.
Result<DirListing> read_directory_fast(std::string_view path, EntryId parent);
Result<CompactListing> read_directory_fast_compact(std::string_view path);

}  // namespace qm
