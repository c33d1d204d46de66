#include "app/serve_loop.h"

#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <variant>

#include "common/utf8.h"
#include "app/dispatcher.h"
#include "app/json_progress_sink.h"
#include "protocol/json_writer.h"
#include "protocol/line_reader.h"
#include "protocol/reply_envelope.h"
#include "protocol/request.h"

namespace qm {
namespace {

// A command that throws (running out of memory, say) fails alone; the engine keeps serving.
CommandResult dispatch_guarded(Engine& engine, const Request& request) {
  // Progress of this request goes out as event lines before its reply.
  JsonProgressSink progress(request.request);
  try {
    return dispatch_command(engine, request, progress);
  } catch (const std::bad_alloc&) {
    return CommandError{"Out of memory"};
  } catch (const std::exception& error) {
    return CommandError{std::string("Internal error: ") + error.what()};
  }
}

// Decodes and runs one line and renders its reply into out (without the line feed).
void serve_line(Engine& engine, std::string_view line, std::string& out) {
  std::variant<Request, DecodeError> decoded = decode_request(line);
  if (const DecodeError* error = std::get_if<DecodeError>(&decoded)) {
    render_decode_error_reply(*error, out);
    return;
  }
  const Request& request = std::get<Request>(decoded);
  const CommandResult outcome = dispatch_guarded(engine, request);
  if (outcome.ok()) {
    render_result_reply(request.request, outcome.value(), out);
  } else {
    render_error_reply(request.request, outcome.error(), out);
  }
}

}  // namespace

int serve_requests(int input_fd, const Seams& seams) {
  // The engine state lives for the whole run and is released before returning.
  auto engine = std::make_unique<Engine>(seams);
  LineReader reader(input_fd);
  std::string reply;  // reused, so a small reply costs no allocation
  std::string_view line;
  while (reader.next_line(line)) {
    // A line that is not UTF-8 ends the run quietly, with no reply.
    if (!is_valid_utf8(line)) break;
    reply.clear();
    serve_line(*engine, line, reply);
    reply.push_back('\n');
    write_line(reply);
    if (reply.capacity() > (std::size_t{1} << 20)) std::string().swap(reply);
  }
  return 0;
}

}  // namespace qm
