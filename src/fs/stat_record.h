#pragma once
// Turning one admitted stat result into the engine's records. Every reader
// goes through these, which is what makes their records identical.
#include <sys/stat.h>

#include <cstdint>
#include <string_view>

#include "common/utf8.h"
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

// Appends one admitted entry whose name the caller has just appended to
// out.names from name_offset on. False (and the name taken back) when the
// names would no longer fit the 32-bit offsets; the caller counts it skipped.
inline bool finish_listed_entry(CompactListing& out, std::size_t name_offset, const struct stat& st) {
  const std::size_t name_length = out.names.size() - name_offset;
  if (out.names.size() > UINT32_MAX || name_length > UINT16_MAX) {
    out.names.resize(name_offset);
    return false;
  }
  ListedEntry& e = out.entries.emplace_back();
  e.name_offset = static_cast<std::uint32_t>(name_offset);
  e.name_length = static_cast<std::uint16_t>(name_length);
  fill_from_stat(e, st);
  return true;
}

// Appends one admitted entry named `name` (the bytes the directory holds): its
// text form to out.names, and the bytes themselves to out.raw_names when they
// are not text. False when it does not fit; the caller counts it skipped.
inline bool add_listed_entry(CompactListing& out, std::string_view name, const struct stat& st) {
  const std::size_t offset = out.names.size();
  if (is_valid_utf8(name)) {
    out.names.append(name);
    return finish_listed_entry(out, offset, st);
  }
  append_lossy_utf8(out.names, name);
  if (!finish_listed_entry(out, offset, st)) return false;
  out.raw_names.push_back({static_cast<std::uint32_t>(out.entries.size() - 1), std::string(name)});
  return true;
}

}  // namespace qm
