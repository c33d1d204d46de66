#pragma once
// The one reply line written per request line, rendered straight into a buffer
// with its members in key order.
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/json_value.h"
#include "protocol/request.h"

namespace qm {

// {"request":N,"result":R}
void render_result_reply(std::uint64_t request_id, const JsonValue& result, std::string& out);

// {"error":T,"request":N}
void render_error_reply(std::uint64_t request_id, std::string_view error, std::string& out);

// {"error":"<message> at line L column C"} (no "request" member, ever)
void render_decode_error_reply(const DecodeError& error, std::string& out);

}  // namespace qm
