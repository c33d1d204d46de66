#include "protocol/reply_envelope.h"

#include "protocol/json_writer.h"

namespace qm {
void render_result_reply(std::uint64_t request_id, const JsonValue& result, std::string& out) {
  out.append("{\"request\":");
  render_integer(request_id, out);
  out.append(",\"result\":");
  render_json(result, out);
  out.push_back('}');
}

void render_error_reply(std::uint64_t request_id, std::string_view error, std::string& out) {
  out.append("{\"error\":");
  render_json_string(error, out);
  out.append(",\"request\":");
  render_integer(request_id, out);
  out.push_back('}');
}

void render_decode_error_reply(const DecodeError& error, std::string& out) {
  std::string text = error.message;
  text.append(" at line ");
  render_integer(error.line, text);
  text.append(" column ");
  render_integer(error.column, text);
  out.append("{\"error\":");
  render_json_string(text, out);
  out.push_back('}');
}

}  // namespace qm
