#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/entry_metadata.h"

namespace qm {

// The admitted entries of one directory plus what failed or was left out.
struct DirListing {
  std::vector<EntryMetadata> entries;
  std::uint64_t errors = 0;   // 1 when the directory cannot be opened, else failed reads
  std::uint64_t skipped = 0;  // links, placeholders, special files, failed stats
};

// Lists a directory with the fast reader, or the portable one when
// QUILLMARSH_STANDARD_READDIR is set or the fast reader fails. Never fails.
DirListing list_directory(std::string_view path, EntryId parent);

// One admitted entry of a compact listing: numbers only, the name lives in the
// listing's shared name buffer. This is what the scan and measure consume, so a
// batch of listings holds no per-entry path or identity strings.
struct ListedEntry {
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;
  std::uint64_t modified = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t links = 0;
  std::uint32_t name_offset = 0;  // into CompactListing::names
  std::uint16_t name_length = 0;
  bool directory = false;
};

// The bytes of a name that is not valid UTF-8, for the entry at `entry` in a
// listing: its text form has U+FFFD in their place and cannot be opened.
struct RawName {
  std::uint32_t entry = 0;
  std::string bytes;
};

struct CompactListing {
  std::string names;  // names as text (invalid UTF-8 already replaced), back to back
  std::vector<ListedEntry> entries;
  std::vector<RawName> raw_names;  // in entry order; empty unless a name is not text
  std::uint64_t errors = 0;
  std::uint64_t skipped = 0;

  std::string_view name(const ListedEntry& entry) const {
    return std::string_view(names).substr(entry.name_offset, entry.name_length);
  }
  // The name as the file system has it, for paths handed to the system.
  std::string_view os_name(std::size_t index) const {
    const auto raw = std::lower_bound(raw_names.begin(), raw_names.end(), index,
                                      [](const RawName& r, std::size_t at) { return r.entry < at; });
    if (raw != raw_names.end() && raw->entry == index) return raw->bytes;
    return name(entries[index]);
  }
};

// Appends an entry named `name` (the bytes the directory holds) for the caller
// to fill: its text form goes to out.names, and the bytes themselves to
// out.raw_names when they are not text. nullptr (and nothing appended) when
// the names would no longer fit the 32-bit offsets; the caller counts it skipped.
ListedEntry* append_listed_entry(CompactListing& out, std::string_view name);

// True while QUILLMARSH_STANDARD_READDIR is set: every listing goes through the
// portable reader.
bool standard_readdir_requested();

// Same entries, order and counts as list_directory, in compact form.
CompactListing list_directory_compact(std::string_view path);

// Joins a directory path and an entry name with one "/" (none added after a trailing "/").
std::string join_path(std::string_view directory, std::string_view name);

}  // namespace qm
