#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult entry_command(Engine&, std::uint64_t) {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
