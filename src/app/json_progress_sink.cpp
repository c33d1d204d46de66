#include "app/json_progress_sink.h"

#include <string>

#include "protocol/json_writer.h"

namespace qm {

void JsonProgressSink::indexing(const IndexingProgress& progress) {
  JsonObject event;
  event.insert("elapsedMs", progress.elapsed_ms);
  event.insert("entries", progress.entries);
  event.insert("errors", progress.errors);
  event.insert("event", "progress");
  event.insert("path", std::string(progress.path));
  event.insert("phase", "indexing");
  event.insert("request", request_id_);
  event.insert("skipped", progress.skipped);
  write_json_line(event);
}

void JsonProgressSink::stage(const StageProgress& progress) {
  JsonObject event;
  event.insert("elapsedMs", progress.elapsed_ms);
  event.insert("entries", progress.entries);
  event.insert("event", "progress");
  event.insert("phase", progress.phase);
  event.insert("request", request_id_);
  event.insert("total", progress.total);
  write_json_line(event);
}

}  // namespace qm
