#include "protocol/args.h"

namespace qm {

const JsonValue& arg_value(const JsonValue& args, std::string_view key) {
  static const JsonValue null_value{};
  if (!args.is_object()) return null_value;
  const JsonValue* found = args.as_object().find(key);
  return found ? *found : null_value;
}

std::uint64_t unsigned_arg(const JsonValue& args, std::string_view key, std::uint64_t fallback) {
  const JsonValue& value = arg_value(args, key);
  return value.is_unsigned() ? value.as_unsigned() : fallback;
}

std::string string_arg(const JsonValue& args, std::string_view key, std::string_view fallback) {
  const JsonValue& value = arg_value(args, key);
  return value.is_string() ? std::string(value.as_string()) : std::string(fallback);
}

bool bool_arg(const JsonValue& args, std::string_view key, bool fallback) {
  const JsonValue& value = arg_value(args, key);
  return value.is_bool() ? value.as_bool() : fallback;
}

const JsonArray* array_arg(const JsonValue& args, std::string_view key) {
  const JsonValue& value = arg_value(args, key);
  return value.is_array() ? &value.as_array() : nullptr;
}

const JsonObject* object_arg(const JsonValue& args, std::string_view key) {
  const JsonValue& value = arg_value(args, key);
  return value.is_object() ? &value.as_object() : nullptr;
}

}  // namespace qm
