#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult measure_command(const JsonArray&) {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
