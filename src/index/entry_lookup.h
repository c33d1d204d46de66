#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"
#include "fs/entry_metadata.h"
#include "index/index.h"
#include "protocol/json_value.h"

namespace qm {

inline constexpr const char* kItemRemovedError = "Item was removed";
inline constexpr const char* kUnknownEntryError = "Unknown index entry";
inline constexpr const char* kPathChangedError = "Path changed or became a link";
inline constexpr const char* kItemChangedError = "Item changed since scan; scan again";

// The indexed entry as EntryMetadata (path and identity computed now). No disk access;
// safe to call from several threads at once. Fails with kItemRemovedError or
// kUnknownEntryError.
Result<EntryMetadata> lookup_entry(const Index& index, std::uint64_t id);

// lookup_entry, then checks the item and every ancestor up to "/" with lstat (a link
// or placeholder anywhere: kPathChangedError; a failed lstat: its OS error text), then
// stats the item: kind and identity must match, and for a file size and modification
// time too (else kItemChangedError). Returns the indexed metadata, not the fresh one.
Result<EntryMetadata> revalidate_entry(const Index& index, std::uint64_t id);

// The ten-member JSON form of an item.
JsonValue entry_object(const EntryMetadata& metadata);
JsonValue entry_objects(const std::vector<EntryMetadata>& metadata);

// Skips offset ids, looks up the next limit ones; failed lookups are dropped but
// count towards the limit.
std::vector<EntryMetadata> collect_entry_page(const Index& index, std::span<const EntryId> ids,
                                              std::uint64_t offset, std::size_t limit);

}  // namespace qm
