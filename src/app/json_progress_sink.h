#pragma once
#include <cstdint>

#include "common/progress_sink.h"
#include "protocol/json_value.h"

namespace qm {

// The event lines' values: {"elapsedMs","entries","errors","event","path",
// "phase":"indexing","request","skipped"} and {"elapsedMs","entries","event",
// "phase","request","total"}.
JsonValue indexing_event(std::uint64_t request_id, const IndexingProgress& progress);
JsonValue stage_event(std::uint64_t request_id, const StageProgress& progress);

// Writes each report as a progress event line on standard output, for the
// request it belongs to: phase "indexing" for the scan, the stage's phase
// ("sampling", "hashing") for a hashing stage. An event that cannot be built
// for want of memory is left out.
class JsonProgressSink final : public ProgressSink {
 public:
  explicit JsonProgressSink(std::uint64_t request_id) : request_id_(request_id) {}

  void indexing(const IndexingProgress& progress) override;
  void stage(const StageProgress& progress) override;

 private:
  std::uint64_t request_id_;
};

}  // namespace qm
