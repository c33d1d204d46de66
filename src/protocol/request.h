#pragma once
#include <cstdint>
#include <optional>
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

// Decoding ran out of memory (a string, an array, a message too large to hold).
// The request id, when it had been read before memory ran out.
struct DecodeOutOfMemory {
  std::optional<std::uint64_t> request;
};

using DecodeResult = std::variant<Request, DecodeError, DecodeOutOfMemory>;

// Decodes one input line (terminator removed, valid UTF-8) into a Request.
// Never throws std::bad_alloc: running out of memory is DecodeOutOfMemory.
DecodeResult decode_request(std::string_view line);

// The same, but the strings of args that need no unescaping are not copied:
// they refer to `line`, which must outlive the Request (the serving loop keeps
// the line until the reply is written). A request of a million paths then
// holds no second copy of them.
DecodeResult decode_request_in_place(std::string_view line);

}  // namespace qm
