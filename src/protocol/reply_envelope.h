#pragma once
// The one reply line written per request line, rendered straight into its
// output (a string, or the stream to standard output) with its members in key
// order. None of them allocates when rendering to a stream.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/json_value.h"
#include "protocol/json_writer.h"
#include "protocol/request.h"

namespace qm {

inline constexpr const char* kOutOfMemoryError = "Out of memory";

// {"request":N,"result":R}
void render_result_reply(std::uint64_t request_id, const JsonValue& result, JsonOut& out);
void render_result_reply(std::uint64_t request_id, const JsonValue& result, std::string& out);

// {"error":T,"request":N}
void render_error_reply(std::uint64_t request_id, std::string_view error, JsonOut& out);
void render_error_reply(std::uint64_t request_id, std::string_view error, std::string& out);

// {"error":"<message> at line L column C"} (no "request" member, ever)
void render_decode_error_reply(const DecodeError& error, JsonOut& out);
void render_decode_error_reply(const DecodeError& error, std::string& out);

// {"error":"Out of memory","request":N}, or {"error":"Out of memory"} when the
// request id is not known (a line that could not be held, or whose id could
// not be read).
void render_out_of_memory_reply(std::optional<std::uint64_t> request_id, JsonOut& out);

}  // namespace qm
