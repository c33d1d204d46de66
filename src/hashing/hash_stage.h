#pragma once
// One parallel hashing pass of the duplicate finder, with its progress reports.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "common/clock.h"
#include "common/entry_id.h"
#include "common/progress_sink.h"
#include "hashing/digest.h"
#include "hashing/hash_cache.h"
#include "hashing/hash_entry.h"
#include "index/index.h"

namespace qm {

// One file a stage hashed.
struct HashedEntry {
  HashedEntry(Digest hash_in = {}, EntryId id_in = kNoEntry, std::optional<Digest> content_in = std::nullopt,
              std::optional<Digest> head_in = std::nullopt, HeadContinuation continuation_in = {})
      : hash(hash_in), id(id_in), content(content_in), head(head_in), continuation(std::move(continuation_in)) {}

  Digest hash;
  EntryId id = kNoEntry;
  // Sampled stage: the content hash, when the sample read took the whole file,
  std::optional<Digest> content;
  // else the head hash, and where a full read can go on after the head.
  std::optional<Digest> head;
  HeadContinuation continuation;
};

// One file for a stage: its id, and its hash when an earlier read already gave it.
struct StageFile {
  StageFile(EntryId id_in = kNoEntry, std::optional<Digest> known_in = std::nullopt, std::uint32_t group_in = 0,
            std::optional<Digest> head_in = std::nullopt, HeadContinuation continuation_in = {})
      : id(id_in), known(known_in), group(group_in), head(head_in), continuation(std::move(continuation_in)) {}

  EntryId id = kNoEntry;
  std::optional<Digest> known;
  // The content stage: files of one group shared size and sampled hash.
  std::uint32_t group = 0;
  // The content stage: the head hash, when the sampled read gave it, and
  // where the full read can go on after the head.
  std::optional<Digest> head;
  HeadContinuation continuation;
};

// The most files served from the cache together (see serve_cached).
inline constexpr std::size_t kServedTogether = 32;

// Positions into files regrouped for serving from the cache: each position
// once, directory by directory (ids the index does not hold count as one
// directory), in the order given within a directory, and cut into runs of at
// most kServedTogether files of one directory.
struct DirectoryRuns {
  std::vector<std::size_t> positions;  // regrouped
  std::vector<std::size_t> starts;     // where each run begins in positions
};
DirectoryRuns directory_runs(const Index& index, std::span<const StageFile> files,
                             std::span<const std::size_t> positions);

// Hashes every file with hash_entry (mode, revalidate clear) on the process pool
// and returns the ones that hashed, in the order of files; failures are dropped
// silently. A file with a known hash is not read and counts as done at once.
// The others are read in order of identity (device, inode), which on most file
// systems follows where the data lies. Sampled reads keep where a full read can
// go on after the head, for up to kMostContinuations files.
// Reports progress with "entries" 0 first (also for no files), then at most one
// per kProgressSpacing, and one with "entries" equal to "total" at the end.
// "elapsedMs" counts from command_start.
std::vector<HashedEntry> run_hash_stage(const Index& index, HashCache& cache, const HashContext& context,
                                        std::span<const StageFile> files, HashMode mode, std::string_view phase,
                                        Clock::TimePoint command_start, ProgressSink& progress);

// At most this many continuations (a few hundred bytes each) are held at
// once; files past it are read in full from the start.
inline constexpr std::size_t kMostContinuations = 32768;

// The "hashing" stage: the content hash of every file that may have a copy, in
// the order of files. A file with a known hash is not read. The others need
// their head hash: given, or read first (HashMode::Head: the whole content of a
// file up to kHeadSize, which ends there); a larger file whose head no other
// file of its group shares has no copy and drops out, read no further; the
// rest are hashed in full, going on after the head where a continuation
// allows. Failures drop out silently. Progress as run_hash_stage, every file
// counted once, when it is done or drops out.
std::vector<HashedEntry> run_content_stage(const Index& index, HashCache& cache, const HashContext& context,
                                           std::vector<StageFile> files, std::string_view phase,
                                           Clock::TimePoint command_start, ProgressSink& progress);

}  // namespace qm
