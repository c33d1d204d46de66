#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/json_value.h"

namespace qm {

struct Request {
  std::uint64_t request = 0;
  std::string command;
  JsonValue args;  // null when absent
};

struct DecodeError {
  std::string message;
  std::uint64_t line = 1;
  std::uint64_t column = 0;
};

// Decodes one input line (terminator removed, valid UTF-8) into a Request.
std::variant<Request, DecodeError> decode_request(std::string_view line);

}  // namespace qm
