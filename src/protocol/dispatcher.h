#pragma once
#include <cstdint>

#include "protocol/commands.h"
#include "protocol/request.h"

namespace qm {

// The member of args with this key when args is an object that has it; otherwise null.
const JsonValue& arg_value(const JsonValue& args, std::string_view key);

// Routes one request to its command with its arguments read and defaulted.
CommandResult dispatch_command(Engine& engine, const Request& request);

}  // namespace qm
