#include "hashing/hash_stage.h"

#include <atomic>
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
  void finished_one() {
    const std::size_t done = finished_.fetch_add(1, std::memory_order_acq_rel) + 1;
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

}  // namespace

std::vector<HashedEntry> run_hash_stage(const Index& index, HashCache& cache, const HashContext& context,
                                        const std::vector<EntryId>& ids, HashMode mode, std::string_view phase,
                                        Clock::TimePoint command_start, ProgressSink& progress) {
  StageReporter reporter(progress, context.clock, phase, ids.size(), command_start);
  reporter.report_start();

  // Slot i holds the hash of ids[i]; empty when it failed (a hash is never empty).
  std::vector<std::string> hashes(ids.size());
  process_pool().for_each_index(ids.size(), [&](std::size_t i) {
    auto hashed = hash_entry(index, cache, context, ids[i], mode, false);
    if (hashed) hashes[i] = std::move(hashed).value();
    reporter.finished_one();
  });
  reporter.report_end();

  std::vector<HashedEntry> results;
  results.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!hashes[i].empty()) results.push_back({std::move(hashes[i]), ids[i]});
  }
  return results;
}

}  // namespace qm
