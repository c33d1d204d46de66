#pragma once
// The grouping steps of the duplicate finder: which files to sample, which to hash
// in full, and the reported groups. No file access here; the hashing is elsewhere.
#include <cstdint>
#include <string>
#include <vector>

#include "common/entry_id.h"
#include "hashing/digest.h"
#include "hashing/hash_stage.h"
#include "index/entry_lookup.h"
#include "index/index.h"

namespace qm {

struct DuplicateGroup {
  Digest hash;                       // the full content hash shared by the files
  std::vector<Item> files;           // oldest first
  std::uint64_t reclaimable = 0;     // allocated bytes of every file but the first
};

// Candidates (present, not a directory, size >= minimum, exactly one link) that share
// their size with another candidate. Grouped by size, largest size first so the
// longest work starts early; index order within a size.
// One object reached under several names (a bind mount shows the same files
// twice) is one candidate, its first entry in index order: it is no copy of
// itself, and deleting one of its names would delete the only copy.
std::vector<EntryId> size_collisions(const Index& index, std::uint64_t minimum);

// The files whose (indexed size, sampled hash) is shared by another file, with
// their content hash when the sample read already gave it, numbered by group
// (one number per shared (size, sampled hash)); same order rules as size_collisions.
std::vector<StageFile> sample_collisions(const Index& index, std::vector<HashedEntry> sampled);

// Oldest modification time first; equal times by path bytes (a prefix first). Stable.
void order_group_members(std::vector<Item>& files);

// Files with equal full hashes, looked up in the index (failed lookups dropped),
// as groups of two or more ordered by reclaimable bytes, largest first (stable).
std::vector<DuplicateGroup> content_groups(const Index& index, std::vector<HashedEntry> hashed);

}  // namespace qm
