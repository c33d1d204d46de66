#pragma once
// The listing of one directory as the scan and measure consume it: numbers
// only per entry, names back to back in one buffer, so a batch of listings
// holds no per-entry path or name strings.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/entry_metadata.h"

namespace qm {

// One admitted entry: its record, and where its name sits in the listing's names.
struct ListedEntry {
  EntryMetadata metadata;
  std::uint32_t name_offset = 0;  // into CompactListing::names
  std::uint16_t name_length = 0;
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
  std::uint64_t errors = 0;   // 1 when the directory cannot be opened or a read failed
  std::uint64_t skipped = 0;  // links, placeholders, special files, failed stats

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

  // Appends the entry whose name the caller has just appended to names from
  // name_offset on. False (and the name taken back) when the names would no
  // longer fit the 32-bit offsets or the name its 16-bit length.
  bool append_entry(std::size_t name_offset, const EntryMetadata& metadata) {
    const std::size_t name_length = names.size() - name_offset;
    if (names.size() > UINT32_MAX || name_length > UINT16_MAX) {
      names.resize(name_offset);
      return false;
    }
    entries.push_back({metadata, static_cast<std::uint32_t>(name_offset), static_cast<std::uint16_t>(name_length)});
    return true;
  }
};

// Joins a directory path and an entry name with one "/" (none added after a trailing "/").
std::string join_path(std::string_view directory, std::string_view name);

}  // namespace qm
