#include "protocol/commands.h"
#include "query/entry_lookup.h"

namespace qm {

// One item, checked against the disk first; the reply shows the indexed values.
CommandResult entry_command(Engine& engine, std::uint64_t id) {
  auto metadata = revalidate_entry(engine.index, id);
  if (!metadata) return std::move(metadata).take_error();
  return entry_object(*metadata);
}

}  // namespace qm
