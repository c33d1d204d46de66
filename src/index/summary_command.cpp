#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult summary_command(Engine&) {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
