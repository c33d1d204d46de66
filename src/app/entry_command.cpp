#include "app/commands.h"
#include "app/entry_json.h"

namespace qm {

// One item, checked against the disk first; the reply shows the indexed values.
CommandResult entry_command(Engine& engine, std::uint64_t id) {
  auto item = revalidate_entry(engine.index, id);
  if (!item) return std::move(item).take_error();
  return entry_object(*item);
}

}  // namespace qm
