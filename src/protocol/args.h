#pragma once
// Reading arguments out of a request's "args" value. An argument counts only
// in its one JSON kind; any other value, or no value, means the caller's default.
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/json_value.h"

namespace qm {

// The member of args with this key when args is an object that has it; otherwise null.
const JsonValue& arg_value(const JsonValue& args, std::string_view key);

// An integer literal from 0 to 2^64 - 1, else fallback (negative numbers,
// fractions, exponents and numeric strings do not count).
std::uint64_t unsigned_arg(const JsonValue& args, std::string_view key, std::uint64_t fallback);
std::string string_arg(const JsonValue& args, std::string_view key, std::string_view fallback);
bool bool_arg(const JsonValue& args, std::string_view key, bool fallback);
// Null when the argument is absent or not an array / object.
const JsonArray* array_arg(const JsonValue& args, std::string_view key);
const JsonObject* object_arg(const JsonValue& args, std::string_view key);

}  // namespace qm
