#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult system_command() {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
