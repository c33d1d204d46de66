#include "app/commands.h"
#include "app/entry_json.h"
#include "query/children.h"

namespace qm {

CommandResult children_command(Engine& engine, std::uint64_t id, std::uint64_t offset) {
  auto page = list_children(engine.index, id, offset);
  if (!page) return std::move(page).take_error();
  JsonObject result;
  result.insert("items", entry_objects(page->items));
  result.insert("parent", entry_object(page->parent));
  return JsonValue(std::move(result));
}

}  // namespace qm
