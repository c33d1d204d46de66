#include <chrono>

#include "hashing/duplicate_groups.h"
#include "hashing/hash_stage.h"
#include "protocol/commands.h"
#include "query/entry_lookup.h"

namespace qm {

// Files with identical content, in three narrowing passes: equal size (no file
// access), equal sampled hash, equal full hash. Unreadable or changed files drop
// out silently; the command itself never fails.
CommandResult duplicates_command(Engine& engine, std::uint64_t minimum, std::uint64_t request_id) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const Index& index = engine.index;

  const std::vector<EntryId> to_sample = size_collisions(index, minimum);
  auto sampled = run_hash_stage(engine, to_sample, HashMode::Sampled, request_id, "sampling", start);
  const std::vector<EntryId> to_hash = sample_collisions(index, std::move(sampled));
  auto hashed = run_hash_stage(engine, to_hash, HashMode::Full, request_id, "hashing", start);
  const std::vector<DuplicateGroup> groups = content_groups(index, std::move(hashed));

  JsonArray group_values;
  group_values.reserve(groups.size());
  for (const DuplicateGroup& group : groups) {
    JsonObject value;
    value.insert("files", entry_objects(group.files));
    value.insert("id", group.hash);
    value.insert("reclaimable", group.reclaimable);
    group_values.push_back(std::move(value));
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();

  JsonObject result;
  result.insert("elapsedMs", static_cast<std::uint64_t>(elapsed > 0 ? elapsed : 0));
  result.insert("groups", std::move(group_values));
  return JsonValue(std::move(result));
}

}  // namespace qm
