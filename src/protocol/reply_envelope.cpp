#include "protocol/reply_envelope.h"

namespace qm {

void render_result_reply(std::uint64_t request_id, const JsonValue& result, JsonOut& out) {
  out.append("{\"request\":");
  render_integer(request_id, out);
  out.append(",\"result\":");
  render_json(result, out);
  out.push_back('}');
}

void render_error_reply(std::uint64_t request_id, std::string_view error, JsonOut& out) {
  out.append("{\"error\":");
  render_json_string(error, out);
  out.append(",\"request\":");
  render_integer(request_id, out);
  out.push_back('}');
}

void render_decode_error_reply(const DecodeError& error, JsonOut& out) {
  // The message is written as it is and the position after it, inside one
  // string literal: no second copy of a long message is made.
  out.append("{\"error\":\"");
  render_json_string_body(error.message, out);
  out.append(" at line ");
  render_integer(error.line, out);
  out.append(" column ");
  render_integer(error.column, out);
  out.append("\"}");
}

void render_out_of_memory_reply(std::optional<std::uint64_t> request_id, JsonOut& out) {
  if (!request_id) {
    out.append("{\"error\":\"Out of memory\"}");
    return;
  }
  render_error_reply(*request_id, kOutOfMemoryError, out);
}

void render_result_reply(std::uint64_t request_id, const JsonValue& result, std::string& out) {
  JsonOut to(out);
  render_result_reply(request_id, result, to);
}

void render_error_reply(std::uint64_t request_id, std::string_view error, std::string& out) {
  JsonOut to(out);
  render_error_reply(request_id, error, to);
}

void render_decode_error_reply(const DecodeError& error, std::string& out) {
  JsonOut to(out);
  render_decode_error_reply(error, to);
}

}  // namespace qm
