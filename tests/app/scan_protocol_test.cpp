// The index commands as the front end reaches them: request lines through the
// decoder and the dispatcher, and the real engine binary through its pipes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "app/app_test_support.h"
#include "protocol/json_writer.h"
#include "protocol/request.h"
#include "support/engine_process.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::json_text;
using test::run;

using test::EngineProcess;
using test::member;
using test::number;
using test::TempDir;

// JSON text of a path, for building request lines.

// A word for /bin/sh in single quotes.
std::string shell_word(const std::string& text) {
  std::string word = "'";
  for (const char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}


// Parses one JSON text by carrying it as the args of a request.
JsonValue parse_json(const std::string& text) {
  auto decoded = decode_request(R"({"request":0,"command":"x","args":)" + text + "}");
  EXPECT_TRUE(std::holds_alternative<Request>(decoded)) << text;
  if (!std::holds_alternative<Request>(decoded)) return {};
  return std::get<Request>(decoded).args;
}

TEST(IndexCommandsThroughTheDispatcher, ForgetAndMeasureNeedAnArrayOfPaths) {
  Engine engine;
  for (const char* command : {"forget", "measure"}) {
    for (const char* args : {R"({"paths":"/tmp"})", R"({"paths":{}})", R"({})", R"(null)", R"([["/tmp"]])"}) {
      EXPECT_EQ(run(engine, std::string(R"({"request":1,"command":")") + command + R"(","args":)" + args + "}"),
                "error:Missing paths")
          << command << " " << args;
    }
  }
  EXPECT_EQ(run(engine, R"({"request":1,"command":"measure","args":{"paths":[]}})"), "ok:[]");
  EXPECT_EQ(run(engine, R"({"request":1,"command":"measure","args":{"paths":[42]}})"),
            R"(ok:[{"errors":1,"path":"","size":0}])");
  EXPECT_EQ(run(engine, R"({"request":1,"command":"summary"})"),
            R"(ok:{"elapsedMs":0,"entries":0,"errors":0,"generation":0,"limited":false,"mode":"","retained":0,"root":null,"skipped":0})");
}

TEST(IndexCommandsInTheEngine, ASessionScansForgetsMeasuresAndSummarises) {
  TempDir tree;
  tree.write_file("docs/a.txt", std::string(3000, 'a'));
  tree.write_file("docs/b.txt", std::string(5000, 'b'));
  tree.write_file("top.txt", "x");
  EngineProcess engine;
  const JsonValue scanned =
      parse_json(engine.request(R"({"request":7,"command":"scan","args":{"root":)" + json_text(tree.path()) + "}}"));
  ASSERT_EQ(number(scanned, "request"), 7u);
  const JsonValue& summary = member(scanned, "result");
  EXPECT_EQ(number(summary, "retained"), 5u);
  EXPECT_EQ(number(member(summary, "root"), "size"), 8001u);
  EXPECT_EQ(member(member(summary, "root"), "path"), JsonValue(tree.path()));

  const JsonValue forgot = parse_json(engine.request(R"({"request":8,"command":"forget","args":{"paths":[)" +
                                                     json_text(tree / "docs/a.txt") + R"(,"docs",9]}})"));
  EXPECT_EQ(number(member(member(forgot, "result"), "root"), "size"), 5001u);

  const JsonValue summarised = parse_json(engine.request(R"({"request":9,"command":"summary"})"));
  EXPECT_EQ(member(summarised, "result"), member(forgot, "result"));

  const JsonValue measured = parse_json(engine.request(R"({"request":10,"command":"measure","args":{"paths":[)" +
                                                       json_text(tree / "top.txt") + "," + json_text(tree / "gone") + "]}}"));
  ASSERT_TRUE(member(measured, "result").is_array());
  const JsonArray& items = member(measured, "result").as_array();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(number(items[0], "size"), test::allocated_on_disk(tree / "top.txt"));
  EXPECT_EQ(number(items[1], "errors"), 1u);

  const JsonValue refused =
      parse_json(engine.request(R"({"request":11,"command":"scan","args":{"root":)" + json_text(tree / "top.txt") + "}}"));
  EXPECT_EQ(member(refused, "error"), JsonValue("Choose a directory"));
  EXPECT_EQ(engine.finish(), 0);
}

TEST(IndexCommandsInTheEngine, ProgressLinesComeBeforeTheReplyAndCarryTheScanRequest) {
  TempDir tree;
  for (int d = 0; d < 1500; ++d) tree.write_file("d" + std::to_string(d % 50) + "/s" + std::to_string(d) + "/f", "x");
  // The portable reader makes the walk slower, so events are likely; they are checked whenever they come.
  EngineProcess engine({"QUILLMARSH_STANDARD_READDIR="});
  engine.send_line(R"({"request":12,"command":"scan","args":{"root":)" + json_text(tree.path()) + "}}");
  std::uint64_t last_entries = 0;
  int events = 0;
  for (;;) {
    const auto line = engine.read_line();
    ASSERT_TRUE(line.has_value());
    const JsonValue value = parse_json(*line);
    if (member(value, "event").is_null()) {
      const JsonValue& result = member(value, "result");
      ASSERT_EQ(number(value, "request"), 12u) << *line;
      EXPECT_GE(number(result, "entries"), last_entries);
      if (number(result, "elapsedMs") >= 300) {
        EXPECT_GE(events, 1);
      }
      break;
    }
    ++events;
    ASSERT_EQ(value.as_object().size(), 8u) << *line;
    EXPECT_EQ(member(value, "event"), JsonValue("progress"));
    EXPECT_EQ(member(value, "phase"), JsonValue("indexing"));
    EXPECT_EQ(number(value, "request"), 12u);
    EXPECT_GE(number(value, "entries"), last_entries);
    EXPECT_NE(number(value, "errors"), UINT64_MAX);
    EXPECT_NE(number(value, "skipped"), UINT64_MAX);
    EXPECT_GE(number(value, "elapsedMs"), 120u);
    ASSERT_TRUE(member(value, "path").is_string());
    EXPECT_EQ(member(value, "path").as_string().rfind(tree.path(), 0), 0u);
    last_entries = number(value, "entries");
  }
  // Nothing follows the reply until the next request.
  EXPECT_EQ(engine.request(R"({"request":13,"command":"summary"})").find(R"("request":13)") != std::string::npos, true);
}

// Runs the engine as an unprivileged user with the given request lines on its
// input; returns its output lines.
std::vector<std::string> run_unprivileged(const TempDir& scratch, const std::vector<std::string>& lines) {
  const std::string input_file = scratch.write_file("requests", [&] {
    std::string input;
    for (const std::string& line : lines) input += line + "\n";
    return input;
  }());
  const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                              shell_word(QM_ENGINE_BINARY) + " < " + shell_word(input_file);
  std::vector<std::string> output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[65536];
  while (std::fgets(buffer, sizeof buffer, pipe)) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    output.push_back(line);
  }
  ::pclose(pipe);
  return output;
}

TEST(IndexCommandsInTheEngine, AnUnreadableDirectoryIsCountedAndTheRestIsScanned) {
  TempDir tree;
  ::chmod(tree.path().c_str(), 0755);  // the unprivileged user must reach the tree
  tree.write_file("open/file", "12345");
  tree.write_file("closed/hidden-from-user", "123");
  ::chmod((tree / "closed").c_str(), 0);
  TempDir scratch;
  const std::vector<std::string> lines = run_unprivileged(scratch, {
      R"({"request":1,"command":"scan","args":{"root":)" + json_text(tree.path()) + "}}",
      R"({"request":2,"command":"measure","args":{"paths":[)" + json_text(tree.path()) + "," +
          json_text(tree / "closed") + "]}}",
      R"({"request":3,"command":"scan","args":{"root":)" + json_text(tree / "closed/deeper") + "}}",
  });
  ::chmod((tree / "closed").c_str(), 0755);
  ASSERT_EQ(lines.size(), 3u);
  const JsonValue scan = member(parse_json(lines[0]), "result");
  EXPECT_EQ(number(scan, "errors"), 1u);
  EXPECT_EQ(number(scan, "retained"), 4u);  // root, open, open/file, closed (listed as an entry, unreadable inside)
  EXPECT_EQ(number(member(scan, "root"), "size"), 5u);
  const JsonValue measured = member(parse_json(lines[1]), "result");
  ASSERT_TRUE(measured.is_array());
  EXPECT_EQ(number(measured.as_array()[0], "errors"), 1u);
  EXPECT_EQ(number(measured.as_array()[1], "errors"), 1u);
  EXPECT_EQ(number(measured.as_array()[1], "size"), 0u);
  EXPECT_EQ(member(parse_json(lines[2]), "error"), JsonValue("Permission denied (os error 13)"));
}

}  // namespace
}  // namespace qm
