#pragma once
// Turning one admitted stat result into the engine's record. Every reader
// goes through these, which is what makes their records identical.
#include <sys/stat.h>

#include <cstdint>
#include <string_view>

#include "common/utf8.h"
#include "fs/compact_listing.h"
#include "fs/entry_metadata.h"
#include "fs/stat_fields.h"

namespace qm {

inline EntryMetadata metadata_from_stat(const struct stat& st) {
  EntryMetadata m;
  m.file = {stat_device(st), static_cast<std::uint64_t>(st.st_ino)};
  m.directory = (st.st_mode & S_IFMT) == S_IFDIR;
  if (!m.directory) {
    m.size = static_cast<std::uint64_t>(st.st_size);
    m.allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
  }
  const struct timespec& mtime = stat_mtime(st);
  m.modified = modified_nanoseconds(mtime.tv_sec, mtime.tv_nsec);
  m.links = static_cast<std::uint64_t>(st.st_nlink);
  return m;
}

// A name put into a listing's names ahead of its entry, so that a reader can
// take the names of a batch of entries before their stat calls.
struct NameAhead {
  std::uint32_t offset = 0;
  std::uint16_t length = 0;
  bool text = true;
};

// Appends the text form of name (the bytes the directory holds) to
// out.names. False, and nothing appended, when it would not fit: the caller
// counts the entry skipped.
inline bool append_name_ahead(CompactListing& out, std::string_view name, NameAhead& ahead) {
  const std::size_t offset = out.names.size();
  ahead.text = is_valid_utf8(name);
  if (ahead.text) {
    out.names.append(name);
  } else {
    append_lossy_utf8(out.names, name);
  }
  const std::size_t length = out.names.size() - offset;
  if (out.names.size() > UINT32_MAX || length > UINT16_MAX) {
    out.names.resize(offset);
    return false;
  }
  ahead.offset = static_cast<std::uint32_t>(offset);
  ahead.length = static_cast<std::uint16_t>(length);
  return true;
}

// Adds the entry whose name append_name_ahead took, and the name's bytes to
// out.raw_names when they are not text. A name taken for an entry that is
// then not added stays in out.names, unused.
inline void add_entry_named_ahead(CompactListing& out, const NameAhead& ahead, std::string_view name,
                                  const EntryMetadata& metadata) {
  out.entries.push_back({metadata, ahead.offset, ahead.length});
  if (!ahead.text) out.raw_names.push_back({static_cast<std::uint32_t>(out.entries.size() - 1), std::string(name)});
}

// Appends one admitted entry named `name` (the bytes the directory holds).
// False when it does not fit; the caller counts it skipped.
inline bool add_listed_entry(CompactListing& out, std::string_view name, const EntryMetadata& metadata) {
  NameAhead ahead;
  if (!append_name_ahead(out, name, ahead)) return false;
  add_entry_named_ahead(out, ahead, name, metadata);
  return true;
}

inline bool add_listed_entry(CompactListing& out, std::string_view name, const struct stat& st) {
  return add_listed_entry(out, name, metadata_from_stat(st));
}

}  // namespace qm
