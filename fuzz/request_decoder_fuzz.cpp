// Any bytes as one request line, passed through the same gate as the serving
// loop (terminator removed, UTF-8 only). A decoded request must render and read
// back to the same args; a failure must point inside the line and render as a
// reply line of valid UTF-8 without line breaks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/utf8.h"
#include "protocol/json_writer.h"
#include "protocol/reply_envelope.h"
#include "protocol/request.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void check_reply_line(const std::string& reply) {
  require(qm::is_valid_utf8(reply));
  require(reply.find('\n') == std::string::npos && reply.find('\r') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::size_t newline = line.find('\n');
  if (newline != std::string_view::npos) {
    line = line.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  if (!qm::is_valid_utf8(line)) return 0;

  auto decoded = qm::decode_request(line);
  std::string reply;
  if (const auto* error = std::get_if<qm::DecodeError>(&decoded)) {
    require(error->line == 1);
    require(error->column <= line.size());
    require(!error->message.empty());
    qm::render_decode_error_reply(*error, reply);
    check_reply_line(reply);
    return 0;
  }
  const qm::Request& request = std::get<qm::Request>(decoded);
  qm::render_result_reply(request.request, request.args, reply);
  check_reply_line(reply);
  qm::render_error_reply(request.request, request.command, reply);
  check_reply_line(reply);

  const std::string again = R"({"request":1,"command":"x","args":)" + qm::to_json(request.args) + "}";
  auto reread = qm::decode_request(again);
  require(std::holds_alternative<qm::Request>(reread));
  require(std::get<qm::Request>(reread).args == request.args);
  return 0;
}
