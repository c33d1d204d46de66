// "hash" and "duplicates" through the real engine binary: request lines in,
// progress and reply lines out.
#include <gtest/gtest.h>

#include <variant>

#include "app/app_test_support.h"
#include "hashing/hashing_test_support.h"
#include "protocol/json_writer.h"
#include "protocol/request.h"
#include "support/engine_process.h"

namespace qm {
namespace {

using test::make_old;
using test::pseudo_random_bytes;
using test::TempDir;

// Any JSON text as a value, read by the engine's own request decoder.
JsonValue parse_json(const std::string& text) {
  auto decoded = decode_request(R"({"request":0,"command":"parse","args":)" + text + "}");
  auto* request = std::get_if<Request>(&decoded);
  EXPECT_NE(request, nullptr) << "not JSON: " << text;
  return request ? request->args : JsonValue();
}

std::string quoted(const std::string& text) { return to_json(JsonValue(text)); }

class EngineSession {
 public:
  // Scans root in the engine; returns the scan reply (any scan progress lines are dropped).
  std::string scan(const std::string& root) {
    return exchange(R"({"request":1,"command":"scan","args":{"root":)" + quoted(root) + "}}", 1).back();
  }

  // Sends one request; returns the lines written up to and including its reply.
  std::vector<std::string> exchange(const std::string& line, std::uint64_t request_id) {
    engine_.send_line(line);
    std::vector<std::string> lines;
    while (auto next = engine_.read_line()) {
      lines.push_back(*next);
      const auto value = parse_json(*next);
      if (!value.is_object()) break;
      const JsonValue* request = value.as_object().find("request");
      const bool is_reply = !value.as_object().find("event") && request && request->is_unsigned();
      if (is_reply && request->as_unsigned() == request_id) break;
    }
    if (lines.empty()) lines.emplace_back("<no reply>");
    return lines;
  }

  ~EngineSession() { engine_.finish(); }

 private:
  test::EngineProcess engine_;
};

TEST(EngineProtocol, DuplicatesWritesStageEventsBeforeItsReply) {
  TempDir dir;
  const std::string content = pseudo_random_bytes(40000, 3);
  make_old(dir.write_file("a", content));
  make_old(dir.write_file("sub/b", content));
  make_old(dir.write_file("c", pseudo_random_bytes(40000, 4)));
  EngineSession engine;
  ASSERT_NE(engine.scan(dir.path()).find(R"("result")"), std::string::npos);

  const auto lines = engine.exchange(R"({"request":5,"command":"duplicates"})", 5);
  ASSERT_GE(lines.size(), 5u);
  std::vector<std::string> phases;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const auto event = test::flat_members(lines[i]);
    ASSERT_EQ(event.size(), 6u) << lines[i];
    EXPECT_EQ(event.at("request"), "5");
    if (phases.empty() || phases.back() != event.at("phase")) {
      phases.push_back(event.at("phase"));
      EXPECT_EQ(event.at("entries"), "0") << "a stage starts at 0: " << lines[i];
    }
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"sampling", "hashing"}));
  EXPECT_EQ(test::flat_members(lines[lines.size() - 2]).at("entries"), "2");

  const JsonValue reply = parse_json(lines.back());
  const JsonValue& groups = *reply.as_object().find("result")->as_object().find("groups");
  ASSERT_EQ(groups.as_array().size(), 1u);
  const JsonValue& group = groups.as_array()[0];
  EXPECT_EQ(group.as_object().find("id")->as_string(), test::b3sum_of(dir / "a"));
  const auto& files = group.as_object().find("files")->as_array();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].as_object().find("path")->as_string(), dir / "a");
  EXPECT_EQ(files[1].as_object().find("path")->as_string(), dir / "sub/b");

  // The hash command agrees with the group id.
  const std::uint64_t id = files[1].as_object().find("id")->as_unsigned();
  const auto hashed = engine.exchange(R"({"request":6,"command":"hash","args":{"id":)" + std::to_string(id) + "}}", 6);
  ASSERT_EQ(hashed.size(), 1u);
  EXPECT_EQ(hashed[0], R"({"request":6,"result":{"hash":")" + test::b3sum_of(dir / "a") + R"("}})");
}

struct MinimumCase {
  const char* name;
  const char* args;  // the "args" member as JSON text, or "" for none
  std::size_t groups;
};

void PrintTo(const MinimumCase& c, std::ostream* os) { *os << c.name; }

class DuplicatesMinimum : public ::testing::TestWithParam<MinimumCase> {};

TEST_P(DuplicatesMinimum, ReplacesTheDefaultOf1024) {
  TempDir dir;
  make_old(dir.write_file("small1", std::string(1000, 's')));
  make_old(dir.write_file("small2", std::string(1000, 's')));
  make_old(dir.write_file("big1", std::string(5000, 'b')));
  make_old(dir.write_file("big2", std::string(5000, 'b')));
  EngineSession engine;
  engine.scan(dir.path());
  const std::string args = GetParam().args;
  const auto lines = engine.exchange(
      R"({"request":2,"command":"duplicates")" + (args.empty() ? "" : R"(,"args":)" + args) + "}", 2);
  const JsonValue reply = parse_json(lines.back());
  const JsonValue* result = reply.as_object().find("result");
  ASSERT_NE(result, nullptr) << lines.back();
  EXPECT_EQ(result->as_object().find("groups")->as_array().size(), GetParam().groups);
}

INSTANTIATE_TEST_SUITE_P(Arguments, DuplicatesMinimum,
                         ::testing::Values(MinimumCase{"absent", "", 1}, MinimumCase{"zero", R"({"minimum":0})", 2},
                                           MinimumCase{"above_all", R"({"minimum":5001})", 0}),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

struct HashErrorCase {
  const char* name;
  const char* args;
  const char* error;
};

void PrintTo(const HashErrorCase& c, std::ostream* os) { *os << c.name; }

class HashErrors : public ::testing::TestWithParam<HashErrorCase> {};

TEST_P(HashErrors, AreRepliedAsTheRequestsError) {
  TempDir dir;
  dir.write_file("file", "x");
  EngineSession engine;
  engine.scan(dir.path());
  const auto lines =
      engine.exchange(std::string(R"({"request":9,"command":"hash","args":)") + GetParam().args + "}", 9);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], std::string(R"({"error":)") + quoted(GetParam().error) + R"(,"request":9})");
}

INSTANTIATE_TEST_SUITE_P(Cases, HashErrors,
                         ::testing::Values(HashErrorCase{"root_directory", R"({"id":0})", "Not a file"},
                                           HashErrorCase{"missing_id_means_the_root", "{}", "Not a file"},
                                           HashErrorCase{"unknown_id", R"({"id":99})", "Unknown index entry"}),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

}  // namespace
}  // namespace qm
