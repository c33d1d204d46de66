#pragma once
// One parallel hashing pass of the duplicate finder, with its progress events.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/entry_id.h"
#include "index/engine.h"

namespace qm {

struct HashedEntry {
  std::string hash;
  EntryId id = kNoEntry;
};

// Spacing of the progress events a stage writes while it runs.
inline constexpr std::chrono::milliseconds kStageEventSpacing{120};

// Hashes every id with hash_entry (mode, revalidate clear) on the process pool and
// returns the ids that hashed, in the order of ids; failures are dropped silently.
// Writes a progress event with "entries" 0 first (also for no ids), then at most one
// per kStageEventSpacing from the workers, and one with "entries" equal to "total"
// at the end. "elapsedMs" counts from command_start.
std::vector<HashedEntry> run_hash_stage(Engine& engine, const std::vector<EntryId>& ids, HashMode mode,
                                        std::uint64_t request_id, std::string_view phase,
                                        std::chrono::steady_clock::time_point command_start);

}  // namespace qm
