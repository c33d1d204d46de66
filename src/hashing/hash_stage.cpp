#include "hashing/hash_stage.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>

#include "common/thread_pool.h"

namespace qm {
namespace {

// Progress shared by the workers of one stage. Workers only try the lock: one
// that finds it taken skips its report instead of waiting behind the reporter.
class StageReporter {
 public:
  StageReporter(ProgressSink& sink, const Clock& clock, std::string_view phase, std::size_t total,
                Clock::TimePoint command_start)
      : sink_(sink), clock_(clock), phase_(phase), total_(total), command_start_(command_start),
        last_report_(clock.now()) {}

  void report_start() { report(0, clock_.now()); }

  // Called by a worker after each id, finished or failed.
  void finished_one() { finished(1); }

  // Called by a worker after count ids at once.
  void finished(std::size_t count) {
    if (count == 0) return;
    const std::size_t done = finished_.fetch_add(count, std::memory_order_acq_rel) + count;
    std::unique_lock guard(lock_, std::try_to_lock);
    if (!guard.owns_lock()) return;
    const auto now = clock_.now();
    // Counts reach the lock out of order; never report fewer than already reported.
    if (done <= last_entries_) return;
    if (done == total_ || now - last_report_ >= kProgressSpacing) report(done, now);
  }

  // After the workers: the final count, unless a worker already reported it (the
  // worker finishing last skips it when another one is reporting at that moment).
  void report_end() {
    std::lock_guard guard(lock_);
    if (last_entries_ < total_) report(total_, clock_.now());
  }

 private:
  void report(std::size_t entries, Clock::TimePoint now) {
    sink_.stage({phase_, entries, total_, whole_ms_between(command_start_, now)});
    last_report_ = clock_.now();
    last_entries_ = entries;
  }

  ProgressSink& sink_;
  const Clock& clock_;
  const std::string_view phase_;
  const std::size_t total_;
  const Clock::TimePoint command_start_;
  std::atomic<std::size_t> finished_{0};
  std::mutex lock_;
  Clock::TimePoint last_report_;  // guarded by lock_
  std::size_t last_entries_ = 0;  // guarded by lock_
};

// Positions into files, sorted by the files' (device, inode); ids the index
// does not hold (they fail at once) go first.
void order_by_identity(const Index& index, std::span<const StageFile> files, std::vector<std::size_t>& positions) {
  struct Keyed {
    FileId file;
    std::size_t position;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(positions.size());
  for (const std::size_t i : positions) {
    const EntryId id = files[i].id;
    keyed.push_back({index.valid(id) ? index.file_id(id) : FileId{}, i});
  }
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.file.device != b.file.device) return a.file.device < b.file.device;
    if (a.file.inode != b.file.inode) return a.file.inode < b.file.inode;
    return a.position < b.position;
  });
  for (std::size_t k = 0; k < keyed.size(); ++k) positions[k] = keyed[k].position;
}

// Calls hash_one(i) for every position i on the process pool, in order of
// the files' identity.
template <class HashOne>
void hash_on_pool(const Index& index, std::span<const StageFile> files, std::vector<std::size_t> positions,
                  HashOne&& hash_one) {
  order_by_identity(index, files, positions);
  process_pool().for_each_index(positions.size(), [&](std::size_t k) { hash_one(positions[k]); });
}

// Serves what the cache can of the files at positions on the process pool,
// a run of files of one directory at a time, and calls take(i, hashes) for
// each file served, then served_run(count) for the run. Returns the positions
// left to read, in the order given.
template <class Take, class Served>
std::vector<std::size_t> serve_from_cache(const Index& index, HashCache& cache, const HashContext& context,
                                          std::span<const StageFile> files, const std::vector<std::size_t>& positions,
                                          HashMode mode, Take&& take, Served&& served_run) {
  const DirectoryRuns runs = directory_runs(index, files, positions);
  std::vector<unsigned char> served_at(files.size(), 0);
  process_pool().for_each_index(runs.starts.size(), [&](std::size_t r) {
    const std::size_t first = runs.starts[r];
    const std::size_t end = r + 1 < runs.starts.size() ? runs.starts[r + 1] : runs.positions.size();
    EntryId ids[kServedTogether];
    std::optional<FileHashes> served[kServedTogether];
    for (std::size_t p = first; p < end; ++p) ids[p - first] = files[runs.positions[p]].id;
    serve_cached(index, cache, context, std::span(ids, end - first), mode, std::span(served, end - first));
    std::size_t count = 0;
    for (std::size_t p = first; p < end; ++p) {
      if (!served[p - first]) continue;
      const std::size_t i = runs.positions[p];
      take(i, *served[p - first]);
      served_at[i] = 1;
      ++count;
    }
    served_run(count);
  });
  std::vector<std::size_t> left;
  left.reserve(positions.size());
  for (const std::size_t i : positions) {
    if (!served_at[i]) left.push_back(i);
  }
  return left;
}

// Whether a read of the file can keep a continuation: only files larger than
// their head have one, so only they count against the budget.
bool goes_past_head(const Index& index, EntryId id) { return index.valid(id) && index.size(id) > kHeadSize; }

}  // namespace

DirectoryRuns directory_runs(const Index& index, std::span<const StageFile> files,
                             std::span<const std::size_t> positions) {
  // Identity order, which the reads want, jumps between directories on most
  // trees: runs taken in it would hold one or two files each.
  struct Placed {
    EntryId parent;
    std::size_t k;  // into positions
  };
  std::vector<Placed> placed;
  placed.reserve(positions.size());
  for (std::size_t k = 0; k < positions.size(); ++k) {
    const EntryId id = files[positions[k]].id;
    placed.push_back({index.valid(id) ? index.parent(id) : kNoEntry, k});
  }
  std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return a.parent != b.parent ? a.parent < b.parent : a.k < b.k;
  });
  DirectoryRuns runs;
  runs.positions.reserve(placed.size());
  for (std::size_t p = 0; p < placed.size(); ++p) {
    if (p == 0 || p - runs.starts.back() == kServedTogether || placed[p].parent != placed[p - 1].parent) {
      runs.starts.push_back(p);
    }
    runs.positions.push_back(positions[placed[p].k]);
  }
  return runs;
}

std::vector<HashedEntry> run_hash_stage(const Index& index, HashCache& cache, const HashContext& context,
                                        std::span<const StageFile> files, HashMode mode, std::string_view phase,
                                        Clock::TimePoint command_start, ProgressSink& progress) {
  StageReporter reporter(progress, context.clock, phase, files.size(), command_start);
  reporter.report_start();

  // results[i] is what files[i] hashed to, written by the worker that read
  // it; those that failed are dropped afterwards.
  std::vector<HashedEntry> results(files.size());
  std::vector<unsigned char> hashed_ok(files.size(), 0);
  const bool keeps = mode == HashMode::Sampled;
  std::atomic<std::ptrdiff_t> continuations_left{static_cast<std::ptrdiff_t>(kMostContinuations)};
  std::vector<std::size_t> to_read;
  to_read.reserve(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    results[i].id = files[i].id;
    if (files[i].known) {
      results[i].hash = *files[i].known;
      hashed_ok[i] = 1;
      reporter.finished_one();
    } else {
      to_read.push_back(i);
    }
  }
  // What the cache holds is served first, a directory at a time; the rest are
  // read in order of identity.
  to_read = serve_from_cache(index, cache, context, files, to_read, mode, [&](std::size_t i, const FileHashes& hashed) {
    HashedEntry& result = results[i];
    result.hash = hashed.digest;
    result.content = hashed.content;
    result.head = hashed.head;
    hashed_ok[i] = 1;
  }, [&](std::size_t count) { reporter.finished(count); });
  hash_on_pool(index, files, std::move(to_read), [&](std::size_t i) {
    const bool keep = keeps && goes_past_head(index, files[i].id) &&
                      continuations_left.fetch_sub(1, std::memory_order_relaxed) > 0;
    HashedEntry& result = results[i];
    auto hashed = hash_entry(index, cache, context, files[i].id, mode, false, keep ? &result.continuation : nullptr);
    if (hashed) {
      result.hash = hashed->digest;
      result.content = hashed->content;
      result.head = hashed->head;
      hashed_ok[i] = 1;
    }
    reporter.finished_one();
  });
  reporter.report_end();

  std::size_t kept = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (!hashed_ok[i]) continue;
    if (kept != i) results[kept] = std::move(results[i]);
    ++kept;
  }
  results.erase(results.begin() + static_cast<std::ptrdiff_t>(kept), results.end());
  return results;
}

std::vector<HashedEntry> run_content_stage(const Index& index, HashCache& cache, const HashContext& context,
                                           std::vector<StageFile> files, std::string_view phase,
                                           Clock::TimePoint command_start, ProgressSink& progress) {
  StageReporter reporter(progress, context.clock, phase, files.size(), command_start);
  reporter.report_start();

  std::vector<std::optional<Digest>> contents(files.size());
  std::vector<std::optional<Digest>> heads(files.size());
  std::vector<HeadContinuation> continuations(files.size());
  std::vector<std::size_t> to_read;
  to_read.reserve(files.size());
  std::ptrdiff_t held = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].known) {
      contents[i] = files[i].known;
      reporter.finished_one();
    } else if (files[i].head) {
      heads[i] = files[i].head;
      continuations[i] = std::move(files[i].continuation);
      if (continuations[i].state) ++held;
    } else {
      to_read.push_back(i);
    }
  }

  // Heads not given are read first: a small file is done, a larger one waits
  // for the others of its group, keeping (within the budget) where its full
  // read can go on.
  std::atomic<std::ptrdiff_t> continuations_left{static_cast<std::ptrdiff_t>(kMostContinuations) - held};
  hash_on_pool(index, files, std::move(to_read), [&](std::size_t i) {
    const bool keep = goes_past_head(index, files[i].id) && continuations_left.fetch_sub(1, std::memory_order_relaxed) > 0;
    auto hashed = hash_entry(index, cache, context, files[i].id, HashMode::Head, false, keep ? &continuations[i] : nullptr);
    if (hashed && !hashed->content) {
      heads[i] = hashed->digest;
      return;
    }
    continuations[i] = HeadContinuation{};
    if (hashed) contents[i] = hashed->content;
    reporter.finished_one();
  });

  // Larger files whose head another file of their group shares are read in full.
  std::vector<std::size_t> headed;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (heads[i]) headed.push_back(i);
  }
  std::sort(headed.begin(), headed.end(), [&](std::size_t a, std::size_t b) {
    if (files[a].group != files[b].group) return files[a].group < files[b].group;
    if (*heads[a] != *heads[b]) return *heads[a] < *heads[b];
    return a < b;
  });
  std::vector<std::size_t> to_hash;
  const auto same_head = [&](std::size_t a, std::size_t b) { return files[a].group == files[b].group && *heads[a] == *heads[b]; };
  for (std::size_t k = 0; k < headed.size();) {
    std::size_t end = k + 1;
    while (end < headed.size() && same_head(headed[k], headed[end])) ++end;
    if (end - k >= 2) {
      to_hash.insert(to_hash.end(), headed.begin() + static_cast<std::ptrdiff_t>(k),
                     headed.begin() + static_cast<std::ptrdiff_t>(end));
    } else {
      continuations[headed[k]] = HeadContinuation{};
      reporter.finished_one();  // no other file begins as it does: it has no copy
    }
    k = end;
  }
  to_hash = serve_from_cache(index, cache, context, files, to_hash, HashMode::Full, [&](std::size_t i, const FileHashes& hashed) {
    continuations[i] = HeadContinuation{};
    contents[i] = hashed.digest;
  }, [&](std::size_t count) { reporter.finished(count); });
  hash_on_pool(index, files, std::move(to_hash), [&](std::size_t i) {
    auto hashed = hash_entry(index, cache, context, files[i].id, HashMode::Full, false, &continuations[i]);
    continuations[i] = HeadContinuation{};
    if (hashed) contents[i] = hashed->digest;
    reporter.finished_one();
  });
  reporter.report_end();

  std::vector<HashedEntry> results;
  results.reserve(files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (contents[i]) results.push_back({*contents[i], files[i].id, std::nullopt});
  }
  return results;
}

}  // namespace qm
