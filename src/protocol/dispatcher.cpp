#include "protocol/dispatcher.h"

namespace qm {

const JsonValue& arg_value(const JsonValue& args, std::string_view key) {
  static const JsonValue null_value;
  if (!args.is_object()) return null_value;
  const JsonValue* found = args.as_object().find(key);
  return found ? *found : null_value;
}

CommandResult dispatch_command(Engine&, const Request&) { return CommandError{kUnknownCommandError}; }

}  // namespace qm
