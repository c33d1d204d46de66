#include "app/json_progress_sink.h"

#include <new>
#include <string>

#include "protocol/json_writer.h"

namespace qm {

JsonValue indexing_event(std::uint64_t request_id, const IndexingProgress& progress) {
  JsonObject event;
  event.insert("elapsedMs", progress.elapsed_ms);
  event.insert("entries", progress.entries);
  event.insert("errors", progress.errors);
  event.insert("event", "progress");
  event.insert("path", std::string(progress.path));
  event.insert("phase", "indexing");
  event.insert("request", request_id);
  event.insert("skipped", progress.skipped);
  return event;
}

JsonValue stage_event(std::uint64_t request_id, const StageProgress& progress) {
  JsonObject event;
  event.insert("elapsedMs", progress.elapsed_ms);
  event.insert("entries", progress.entries);
  event.insert("event", "progress");
  event.insert("phase", progress.phase);
  event.insert("request", request_id);
  event.insert("total", progress.total);
  return event;
}

// An event is news, not a result: one that cannot be built for want of memory
// is left out, and the command goes on to its reply.
void JsonProgressSink::indexing(const IndexingProgress& progress) {
  try {
    write_json_line(indexing_event(request_id_, progress));
  } catch (const std::bad_alloc&) {
  }
}

void JsonProgressSink::stage(const StageProgress& progress) {
  try {
    write_json_line(stage_event(request_id_, progress));
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace qm
