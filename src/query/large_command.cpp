#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult large_command(Engine&, const LargeArgs&) {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
