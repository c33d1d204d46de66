#include "index/scan_summary.h"
#include "protocol/commands.h"

namespace qm {

CommandResult summary_command(Engine& engine) { return scan_summary(engine.index); }

}  // namespace qm
