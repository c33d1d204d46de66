#pragma once
// Turning ids into items, and checking items against the disk.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"
#include "fs/entry_metadata.h"
#include "index/index.h"

namespace qm {

inline constexpr const char* kItemRemovedError = "Item was removed";
inline constexpr const char* kUnknownEntryError = "Unknown index entry";
inline constexpr const char* kPathChangedError = "Path changed or became a link";
inline constexpr const char* kItemChangedError = "Item changed since scan; scan again";

// One indexed entry as the queries present it: where it is, and its record.
struct Item {
  EntryId id = kNoEntry;
  EntryId parent = kNoEntry;  // kNoEntry for the root
  std::string name;
  std::string path;  // as text
  EntryMetadata metadata;
};

// The id as an entry of the index, when it names one that was not taken out:
// else kItemRemovedError or kUnknownEntryError. No disk access.
Result<EntryId> indexed_id(const Index& index, std::uint64_t id);

// The indexed entry (path computed now). No disk access; safe to call from
// several threads at once. Fails with kItemRemovedError or kUnknownEntryError.
Result<Item> lookup_entry(const Index& index, std::uint64_t id);

// lookup_entry, then reaches the item name by name from "/" (open_entry_parent):
// a link or placeholder anywhere on the way or as the item: kPathChangedError; a
// directory or the item that cannot be reached or examined: its OS error text; an
// indexed ancestor that is another object now: kItemChangedError. Then the item,
// examined in its directory (lstat), must be admitted (else kNotAdmittedError)
// and match in kind and identity, and for a file in size and modification time
// too (else kItemChangedError). Returns the indexed item, not the fresh record.
Result<Item> revalidate_entry(const Index& index, std::uint64_t id);

// Skips offset ids, looks up the next limit ones; failed lookups are dropped but
// count towards the limit.
std::vector<Item> collect_entry_page(const Index& index, std::span<const EntryId> ids, std::uint64_t offset,
                                     std::size_t limit);

}  // namespace qm
