#include "app/commands.h"
#include "app/entry_json.h"

namespace qm {

CommandResult summary_command(Engine& engine) { return summary_json(summarize(engine.index)); }

}  // namespace qm
