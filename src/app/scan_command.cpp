#include "app/commands.h"
#include "app/entry_json.h"
#include "app/json_progress_sink.h"

namespace qm {

CommandResult scan_command(Engine& engine, const ScanRequest& request, std::uint64_t request_id) {
  JsonProgressSink progress(request_id);
  const ScanContext context{*engine.seams.directories, *engine.seams.clock, progress};
  auto summary = run_scan(engine.index, request, context);
  if (!summary) return std::move(summary).take_error();
  return summary_json(*summary);
}

}  // namespace qm
