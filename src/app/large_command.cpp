#include "app/commands.h"
#include "app/entry_json.h"

namespace qm {

CommandResult large_command(Engine& engine, const LargeQuery& query) {
  const LargeItems large = list_large_items(engine.index, query);
  JsonObject counted;
  for (const auto& [category, count] : large.category_counts) counted.insert(category, count);
  JsonObject result;
  result.insert("categories", std::move(counted));
  result.insert("count", large.count);
  result.insert("items", entry_objects(large.items));
  return JsonValue(std::move(result));
}

}  // namespace qm
