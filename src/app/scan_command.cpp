#include "app/commands.h"
#include "app/entry_json.h"

namespace qm {

CommandResult scan_command(Engine& engine, const ScanRequest& request, ProgressSink& progress) {
  const ScanContext context{*engine.seams.directories, *engine.seams.clock, progress};
  auto summary = run_scan(engine.index, request, context);
  if (!summary) return std::move(summary).take_error();
  return summary_json(*summary);
}

}  // namespace qm
