#include "app/serve_loop.h"

#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "app/dispatcher.h"
#include "app/json_progress_sink.h"
#include "common/utf8.h"
#include "protocol/json_writer.h"
#include "protocol/line_reader.h"
#include "protocol/reply_envelope.h"
#include "protocol/request.h"

namespace qm {
namespace {

// A command that throws (running out of memory, say) fails alone; the engine keeps serving.
CommandResult dispatch_guarded(Engine& engine, const Request& request) {
  try {
    // Progress of this request goes out as event lines before its reply.
    JsonProgressSink progress(request.request);
    return dispatch_command(engine, request, progress);
  } catch (const std::bad_alloc&) {
    return CommandError{kOutOfMemoryError};
  } catch (const std::exception& error) {
    return CommandError{std::string("Internal error: ") + error.what()};
  }
}

// Written from constant text and the id alone: needs no memory at all.
void write_out_of_memory_reply(std::optional<std::uint64_t> request_id) {
  write_rendered_line([&](JsonOut& out) { render_out_of_memory_reply(request_id, out); });
}

// Decodes and runs one line and writes its reply. Every path writes exactly one
// reply line, also when memory runs out on the way: the reply is rendered
// straight into the output stream, which needs no memory.
void serve_line(Engine& engine, std::string_view line) {
  std::optional<std::uint64_t> request_id;  // known once decoded
  try {
    // The request may refer to the line: both live until the reply is written.
    DecodeResult decoded = decode_request_in_place(line);
    if (const DecodeError* error = std::get_if<DecodeError>(&decoded)) {
      write_rendered_line([&](JsonOut& out) { render_decode_error_reply(*error, out); });
      return;
    }
    if (const DecodeOutOfMemory* out_of_memory = std::get_if<DecodeOutOfMemory>(&decoded)) {
      write_out_of_memory_reply(out_of_memory->request);
      return;
    }
    const Request& request = std::get<Request>(decoded);
    request_id = request.request;
    const CommandResult outcome = dispatch_guarded(engine, request);
    write_rendered_line([&](JsonOut& out) {
      if (outcome.ok()) {
        render_result_reply(request.request, outcome.value(), out);
      } else {
        render_error_reply(request.request, outcome.error(), out);
      }
    });
  } catch (const std::bad_alloc&) {
    write_out_of_memory_reply(request_id);
  }
}

}  // namespace

int serve_requests(int input_fd, const Seams& seams) {
  // The engine state lives for the whole run and is released before returning.
  auto engine = std::make_unique<Engine>(seams);
  LineReader reader(input_fd);
  std::string_view line;
  for (;;) {
    const LineRead read = reader.next_line(line);
    if (read == LineRead::End) break;
    if (read == LineRead::Unheld) {
      // No id can be known of a line that was never held whole.
      write_out_of_memory_reply(std::nullopt);
      continue;
    }
    // A line that is not UTF-8 ends the run quietly, with no reply.
    if (!is_valid_utf8(line)) break;
    serve_line(*engine, line);
  }
  return 0;
}

}  // namespace qm
