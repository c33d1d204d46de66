#include "index/progress_event.h"

namespace qm {

JsonValue scan_progress_event(std::uint64_t request_id, std::uint64_t entries, std::uint64_t errors,
                              std::uint64_t skipped, std::uint64_t elapsed_ms, std::string path) {
  JsonObject event;
  event.insert("elapsedMs", elapsed_ms);
  event.insert("entries", entries);
  event.insert("errors", errors);
  event.insert("event", "progress");
  event.insert("path", std::move(path));
  event.insert("phase", "indexing");
  event.insert("request", request_id);
  event.insert("skipped", skipped);
  return event;
}

JsonValue stage_progress_event(std::uint64_t request_id, std::string_view phase, std::uint64_t entries,
                               std::uint64_t total, std::uint64_t elapsed_ms) {
  JsonObject event;
  event.insert("elapsedMs", elapsed_ms);
  event.insert("entries", entries);
  event.insert("event", "progress");
  event.insert("phase", phase);
  event.insert("request", request_id);
  event.insert("total", total);
  return event;
}

}  // namespace qm
