#include "hashing/hash_stage.h"

#include <atomic>
#include <mutex>

#include "common/thread_pool.h"
#include "hashing/hash_entry.h"
#include "index/progress_event.h"
#include "protocol/json_writer.h"

namespace qm {
namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t whole_ms_since(Clock::time_point start, Clock::time_point now) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
  return ms > 0 ? static_cast<std::uint64_t>(ms) : 0;
}

// Progress shared by the workers of one stage. Workers only try the lock: one
// that finds it taken skips its event instead of waiting behind the writer.
class StageProgress {
 public:
  StageProgress(std::uint64_t request_id, std::string_view phase, std::size_t total, Clock::time_point command_start)
      : request_id_(request_id), phase_(phase), total_(total), command_start_(command_start),
        last_event_(Clock::now()) {}

  void write_start() { write(0, Clock::now()); }

  // Called by a worker after each id, finished or failed.
  void finished_one() {
    const std::size_t done = finished_.fetch_add(1, std::memory_order_acq_rel) + 1;
    std::unique_lock guard(lock_, std::try_to_lock);
    if (!guard.owns_lock()) return;
    const auto now = Clock::now();
    // Counts reach the lock out of order; never report fewer than already reported.
    if (done <= last_entries_) return;
    if (done == total_ || now - last_event_ >= kStageEventSpacing) write(done, now);
  }

  // After the workers: the final count, unless a worker already wrote it (the
  // worker finishing last skips it when another one is writing at that moment).
  void write_end() {
    std::lock_guard guard(lock_);
    if (last_entries_ < total_) write(total_, Clock::now());
  }

 private:
  void write(std::size_t entries, Clock::time_point now) {
    write_json_line(stage_progress_event(request_id_, phase_, entries, total_, whole_ms_since(command_start_, now)));
    last_event_ = Clock::now();
    last_entries_ = entries;
  }

  const std::uint64_t request_id_;
  const std::string_view phase_;
  const std::size_t total_;
  const Clock::time_point command_start_;
  std::atomic<std::size_t> finished_{0};
  std::mutex lock_;
  Clock::time_point last_event_;  // guarded by lock_
  std::size_t last_entries_ = 0;  // guarded by lock_
};

}  // namespace

std::vector<HashedEntry> run_hash_stage(Engine& engine, const std::vector<EntryId>& ids, HashMode mode,
                                        std::uint64_t request_id, std::string_view phase,
                                        Clock::time_point command_start) {
  StageProgress progress(request_id, phase, ids.size(), command_start);
  progress.write_start();

  // Slot i holds the hash of ids[i]; empty when it failed (a hash is never empty).
  std::vector<std::string> hashes(ids.size());
  process_pool().for_each_index(ids.size(), [&](std::size_t i) {
    auto hashed = hash_entry(engine, ids[i], mode, false);
    if (hashed) hashes[i] = std::move(hashed).value();
    progress.finished_one();
  });
  progress.write_end();

  std::vector<HashedEntry> results;
  results.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    if (!hashes[i].empty()) results.push_back({std::move(hashes[i]), ids[i]});
  }
  return results;
}

}  // namespace qm
