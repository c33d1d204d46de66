#pragma once
// "duplicates": files with identical content, in three narrowing passes.
#include <cstdint>
#include <vector>

#include "common/progress_sink.h"
#include "hashing/duplicate_groups.h"
#include "hashing/hash_cache.h"
#include "hashing/hash_entry.h"
#include "index/index.h"

namespace qm {

// The minimum size of a candidate when the request gives none.
inline constexpr std::uint64_t kDuplicatesMinimum = 1024;

struct DuplicateReport {
  std::vector<DuplicateGroup> groups;  // most reclaimable first
  std::uint64_t elapsed_ms = 0;
};

// Equal size (no file access), equal sampled hash ("sampling" stage), equal
// full hash ("hashing" stage), over files of at least minimum bytes with one
// link. Unreadable or changed files drop out silently; it never fails.
DuplicateReport find_duplicates(const Index& index, HashCache& cache, const HashContext& context,
                                std::uint64_t minimum, ProgressSink& progress);

}  // namespace qm
