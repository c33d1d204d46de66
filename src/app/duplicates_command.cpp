#include "app/commands.h"
#include "app/entry_json.h"
#include "hashing/blake3_hex.h"
#include "hashing/find_duplicates.h"

namespace qm {

CommandResult duplicates_command(Engine& engine, std::uint64_t minimum, ProgressSink& progress) {
  const HashContext context{*engine.seams.files, *engine.seams.clock};
  const DuplicateReport report = find_duplicates(engine.index, engine.hash_cache, context, minimum, progress);
  JsonArray groups;
  groups.reserve(report.groups.size());
  for (const DuplicateGroup& group : report.groups) {
    JsonObject value;
    value.insert("files", entry_objects(group.files));
    value.insert("id", digest_hex(group.hash));
    value.insert("reclaimable", group.reclaimable);
    groups.push_back(std::move(value));
  }
  JsonObject result;
  result.insert("elapsedMs", report.elapsed_ms);
  result.insert("groups", std::move(groups));
  return JsonValue(std::move(result));
}

}  // namespace qm
