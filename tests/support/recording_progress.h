#pragma once
// A progress sink that keeps every report, for tests of the work that reports.
#include <mutex>
#include <string>
#include <vector>

#include "common/progress_sink.h"

namespace qm::test {

struct RecordedIndexing {
  std::uint64_t entries, errors, skipped, elapsed_ms;
  std::string path;
};

struct RecordedStage {
  std::string phase;
  std::uint64_t entries, total, elapsed_ms;
};

class RecordingProgress final : public ProgressSink {
 public:
  void indexing(const IndexingProgress& p) override {
    const std::lock_guard lock(lock_);
    indexing_.push_back({p.entries, p.errors, p.skipped, p.elapsed_ms, std::string(p.path)});
  }
  void stage(const StageProgress& p) override {
    const std::lock_guard lock(lock_);
    stages_.push_back({std::string(p.phase), p.entries, p.total, p.elapsed_ms});
  }

  std::vector<RecordedIndexing> indexing_reports() const {
    const std::lock_guard lock(lock_);
    return indexing_;
  }
  std::vector<RecordedStage> stage_reports() const {
    const std::lock_guard lock(lock_);
    return stages_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<RecordedIndexing> indexing_;
  std::vector<RecordedStage> stages_;
};

}  // namespace qm::test
