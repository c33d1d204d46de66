#include "protocol/reply_envelope.h"

#include <charconv>

#include "protocol/json_writer.h"

namespace qm {
namespace {

void append_decimal(std::uint64_t value, std::string& out) {
  char buffer[24];
  const auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, res.ptr);
}

}  // namespace

void render_result_reply(std::uint64_t request_id, const JsonValue& result, std::string& out) {
  out.append("{\"request\":");
  append_decimal(request_id, out);
  out.append(",\"result\":");
  render_json(result, out);
  out.push_back('}');
}

void render_error_reply(std::uint64_t request_id, std::string_view error, std::string& out) {
  out.append("{\"error\":");
  render_json_string(error, out);
  out.append(",\"request\":");
  append_decimal(request_id, out);
  out.push_back('}');
}

void render_decode_error_reply(const DecodeError& error, std::string& out) {
  std::string text = error.message;
  text.append(" at line ");
  append_decimal(error.line, text);
  text.append(" column ");
  append_decimal(error.column, text);
  out.append("{\"error\":");
  render_json_string(text, out);
  out.push_back('}');
}

}  // namespace qm
