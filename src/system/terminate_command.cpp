#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult terminate_command(std::uint32_t, bool) {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
