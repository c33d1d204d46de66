#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult forget_command(Engine&, const JsonArray&) {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
