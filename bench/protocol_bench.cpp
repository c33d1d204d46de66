// Request decoding and reply rendering, the per-line work of the serving loop.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "app/dispatcher.h"
#include "app/engine.h"
#include "protocol/json_writer.h"
#include "protocol/reply_envelope.h"
#include "protocol/request.h"

namespace qm {
namespace {

void BM_DecodeTypicalRequest(benchmark::State& state) {
  const std::string line = R"({"request":12,"command":"children","args":{"id":4711,"offset":200}})";
  for (auto _ : state) {
    auto decoded = decode_request(line);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_DecodeTypicalRequest);

void BM_DecodeScanRequestWithExcludes(benchmark::State& state) {
  const std::string line =
      R"({"request":1,"command":"scan","args":{"root":"/Users/someone","mode":"analysis","includeHidden":true,)"
      R"("excludePaths":["/Users/someone/Library/Caches","/Users/someone/.Trash"],)"
      R"("excludeNames":[".git","node_modules","DerivedData"]},"client":{"version":"1.4.2","session":"a1b2c3"}})";
  for (auto _ : state) {
    auto decoded = decode_request(line);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_DecodeScanRequestWithExcludes);

// Arguments full of fractions and exponents: the decoder's double conversion.
void BM_DecodeRequestWithDoubles(benchmark::State& state) {
  const std::string line =
      R"({"request":3,"command":"large","args":{"weights":[0.1,2.5e-3,3.141592653589793,1e300,-7.25,)"
      R"(6.02214076e23,1.7976931348623157e308,5e-324,0.30000000000000004,123456.789,-0.0,9.999e-7]}})";
  for (auto _ : state) {
    auto decoded = decode_request(line);
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_DecodeRequestWithDoubles);

// A children page: 200 items of ten members, the shape of the browse replies.
JsonValue children_like_reply() {
  JsonArray items;
  for (int i = 0; i < 200; ++i) {
    JsonObject item;
    item.insert("allocated", std::uint64_t{4096} * static_cast<std::uint64_t>(i + 1) * 977);
    item.insert("children", i % 3 == 0 ? 12 + i : 0);
    item.insert("id", 1000 + i);
    item.insert("kind", i % 3 == 0 ? "directory" : "file");
    item.insert("links", 1);
    item.insert("modified", std::uint64_t{1700000000123456789} + static_cast<std::uint64_t>(i) * 1000003);
    item.insert("name", "file name number " + std::to_string(i) + (i % 10 == 0 ? " caf\xc3\xa9" : ".dat"));
    item.insert("path", "/Users/someone/Projects/data/file name number " + std::to_string(i));
    item.insert("share", 0.001 * (i + 1));
    item.insert("size", std::uint64_t{4000} * static_cast<std::uint64_t>(i + 1) * 977);
    items.emplace_back(std::move(item));
  }
  JsonObject result;
  result.insert("items", std::move(items));
  result.insert("offset", 0);
  result.insert("total", 5321);
  return JsonValue(std::move(result));
}

void BM_RenderChildrenReply(benchmark::State& state) {
  const JsonValue result = children_like_reply();
  std::string out;
  for (auto _ : state) {
    out.clear();
    render_result_reply(12, result, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * out.size()));
}
BENCHMARK(BM_RenderChildrenReply);

void BM_BuildAndRenderChildrenReply(benchmark::State& state) {
  std::string out;
  for (auto _ : state) {
    const JsonValue result = children_like_reply();
    out.clear();
    render_result_reply(12, result, out);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_BuildAndRenderChildrenReply);

void BM_RenderDouble(benchmark::State& state) {
  std::string out;
  double value = 0.1234567;
  for (auto _ : state) {
    out.clear();
    render_double(value, out);
    value *= 1.0000001;
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_RenderDouble);

// Everything the loop does for an unknown command except the read and write calls.
void BM_ServeUnknownCommandLine(benchmark::State& state) {
  Engine engine;
  NoProgress progress;
  const std::string line = R"({"request":123456,"command":"nope","args":{"id":5}})";
  // The loop renders into the output buffer; the write call is left out.
  char buffer[4096];
  for (auto _ : state) {
    auto decoded = decode_request_in_place(line);
    const Request& request = std::get<Request>(decoded);
    const CommandResult outcome = dispatch_command(engine, request, progress);
    JsonOut out(STDOUT_FILENO, buffer, sizeof buffer);
    render_error_reply(request.request, outcome.error(), out);
    out.push_back('\n');
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_ServeUnknownCommandLine);

}  // namespace
}  // namespace qm
