#include "protocol/commands.h"

namespace qm {

// Not built yet: answers like an unknown command.
CommandResult scan_command(Engine&, const ScanArgs&, std::uint64_t) {
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
