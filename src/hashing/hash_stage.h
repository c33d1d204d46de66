#pragma once
// One parallel hashing pass of the duplicate finder, with its progress reports.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.h"
#include "common/entry_id.h"
#include "common/progress_sink.h"
#include "hashing/hash_cache.h"
#include "hashing/hash_entry.h"
#include "index/index.h"

namespace qm {

struct HashedEntry {
  std::string hash;
  EntryId id = kNoEntry;
};

// Hashes every id with hash_entry (mode, revalidate clear) on the process pool and
// returns the ids that hashed, in the order of ids; failures are dropped silently.
// Reports progress with "entries" 0 first (also for no ids), then at most one
// per kProgressSpacing from the workers, and one with "entries" equal to "total"
// at the end. "elapsedMs" counts from command_start.
std::vector<HashedEntry> run_hash_stage(const Index& index, HashCache& cache, const HashContext& context,
                                        const std::vector<EntryId>& ids, HashMode mode, std::string_view phase,
                                        Clock::TimePoint command_start, ProgressSink& progress);

}  // namespace qm
