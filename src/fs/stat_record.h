#pragma once
// Turning one admitted stat result into the engine's records. Every reader
// goes through these, which is what makes their records identical.
#include <sys/stat.h>

#include <cstdint>
#include <string_view>

#include "fs/dir_listing.h"
#include "fs/entry_metadata.h"
#include "fs/stat_fields.h"

namespace qm {

// The numeric fields of an EntryMetadata; name, path, parent and id are the caller's.
inline void fill_from_stat(EntryMetadata& m, const struct stat& st) {
  m.identity = identity_text(stat_device(st), static_cast<std::uint64_t>(st.st_ino));
  m.directory = (st.st_mode & S_IFMT) == S_IFDIR;
  m.size = 0;
  m.allocated = 0;
  if (!m.directory) {
    m.size = static_cast<std::uint64_t>(st.st_size);
    m.allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
  }
  const struct timespec& mtime = stat_mtime(st);
  m.modified = modified_nanoseconds(mtime.tv_sec, mtime.tv_nsec);
  m.links = static_cast<std::uint64_t>(st.st_nlink);
}

// The same fields in compact form; the name is the caller's.
inline void fill_from_stat(ListedEntry& e, const struct stat& st) {
  e.device = stat_device(st);
  e.inode = static_cast<std::uint64_t>(st.st_ino);
  e.directory = (st.st_mode & S_IFMT) == S_IFDIR;
  e.size = 0;
  e.allocated = 0;
  if (!e.directory) {
    e.size = static_cast<std::uint64_t>(st.st_size);
    e.allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
  }
  const struct timespec& mtime = stat_mtime(st);
  e.modified = modified_nanoseconds(mtime.tv_sec, mtime.tv_nsec);
  e.links = static_cast<std::uint64_t>(st.st_nlink);
}

// Appends one admitted entry named `name` (the bytes the directory holds);
// false when it does not fit, and the caller counts it skipped.
inline bool add_listed_entry(CompactListing& out, std::string_view name, const struct stat& st) {
  ListedEntry* entry = append_listed_entry(out, name);
  if (!entry) return false;
  fill_from_stat(*entry, st);
  return true;
}

}  // namespace qm
