// The real engine on trees deeper than PATH_MAX, with either directory reader,
// and a scan that runs out of memory under an address-space limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_test_support.h"
#include "support/deep_tree.h"
#include "support/engine_process.h"
#include "support/sanitizer.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::args_of;
using test::EngineProcess;
using test::json_text;
using test::member;
using test::number;
using test::TempDir;


std::string request(std::uint64_t id, const std::string& command, const std::string& args) {
  return R"({"request":)" + std::to_string(id) + R"(,"command":")" + command + R"(","args":)" + args + "}";
}

// The reply to one request line, past the progress lines that come before it.
JsonValue reply_to(EngineProcess& engine, const std::string& line) {
  std::string text = engine.request(line);
  while (text.find(R"("event":)") != std::string::npos) text = engine.read_line().value_or("");
  return args_of(text);
}

// The counts of a scan reply (everything but its time).
std::string counts_of(const JsonValue& summary) {
  return std::to_string(number(summary, "entries")) + " seen, " + std::to_string(number(summary, "retained")) +
         " retained, " + std::to_string(number(summary, "errors")) + " errors, " +
         std::to_string(number(summary, "skipped")) + " skipped, " +
         std::to_string(number(member(summary, "root"), "size")) + " bytes";
}

// 400 levels of 20-character names (about 8400 bytes of path): both readers
// give identical counts, and the deepest file can be measured, checked and hashed.
TEST(EngineWalk, ATreeDeeperThanPathMaxIsScannedMeasuredCheckedAndHashedWithEitherReader) {
  TempDir dir;
  const test::DeepTree tree(dir.path(), 400);
  dir.write_file("shallow", test::DeepTree::kContent);  // the same content, for the expected hash
  std::vector<std::string> counts;
  for (const std::vector<std::string>& env :
       {std::vector<std::string>{}, std::vector<std::string>{"QUILLMARSH_STANDARD_READDIR=1"}}) {
    SCOPED_TRACE(env.empty() ? "fast reader" : "portable reader");
    EngineProcess engine(env);
    const JsonValue scanned = reply_to(engine, request(1, "scan", R"({"root":)" + json_text(dir.path()) + "}"));
    ASSERT_TRUE(member(scanned, "result").is_object()) << to_json(scanned);
    const JsonValue& summary = member(scanned, "result");
    EXPECT_EQ(number(summary, "errors"), 0u);
    EXPECT_EQ(number(summary, "retained"), 2u + 400 * 2);
    counts.push_back(counts_of(summary));

    // Every file, 100 a page; the deepest is the one with the longest path.
    std::uint64_t deepest = 0, shallow = 0;
    std::size_t deepest_length = 0;
    for (std::uint64_t offset = 0; offset < 500; offset += 100) {
      const JsonValue page = args_of(engine.request(
          request(2, "large", R"({"minimum":0,"offset":)" + std::to_string(offset) + "}")));
      for (const JsonValue& item : member(member(page, "result"), "items").as_array()) {
        const std::string path(member(item, "path").as_string());
        if (path.size() > deepest_length) {
          deepest_length = path.size();
          deepest = number(item, "id");
        }
        if (path == dir / "shallow") shallow = number(item, "id");
      }
    }
    EXPECT_GT(deepest_length, 8000u);
    const std::string id = R"({"id":)" + std::to_string(deepest) + "}";
    const JsonValue entry = args_of(engine.request(request(3, "entry", id)));
    EXPECT_EQ(number(member(entry, "result"), "size"), 10u) << engine.request(request(3, "entry", id));
    const JsonValue hashed = args_of(engine.request(request(4, "hash", id)));
    const JsonValue expected =
        args_of(engine.request(request(5, "hash", R"({"id":)" + std::to_string(shallow) + "}")));
    ASSERT_TRUE(member(hashed, "result").is_object()) << to_json(hashed);
    EXPECT_EQ(member(member(hashed, "result"), "hash"), member(member(expected, "result"), "hash"));

    const JsonValue measured =
        args_of(engine.request(request(6, "measure", R"({"paths":[)" + json_text(dir.path()) + "]}")));
    const JsonValue& measure = member(measured, "result").as_array().at(0);
    EXPECT_EQ(number(measure, "errors"), 0u);
    EXPECT_EQ(number(measure, "size"), number(member(summary, "root"), "allocated"));
    EXPECT_EQ(engine.finish(), 0);
  }
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts[0], counts[1]) << "the two readers disagree";
}

// The engine's address space now, from /proc.
std::uint64_t address_space_bytes(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) return std::stoull(line.substr(7)) * 1024;
  }
  return 0;
}

// Under an address-space limit 4 MiB above what the idle engine uses, a scan
// cannot hold its first table chunk (3.5 MiB) and first name chunk (1 MiB):
// the reply says memory, the index is left empty (no table without directory
// totals for the queries), and the engine goes on serving. (Running out in
// the middle of a walk is index/descriptor_walk_linux_test's case.)
TEST(EngineWalk, AScanThatRunsOutOfMemoryRepliesSoAndLeavesAnEmptyIndexBehind) {
  if (test::kUnderSanitizer) GTEST_SKIP() << "a sanitizer's shadow memory does not fit an address-space limit";
  TempDir dir;
  const std::string padding(200, 'n');
  for (int d = 0; d < 5; ++d) {
    const int at = ::open(dir.make_dir("d" + std::to_string(d)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(at, 0);
    for (int f = 0; f < 400; ++f) {
      ::close(::openat(at, (std::to_string(f) + padding).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    }
    ::close(at);
  }
  EngineProcess engine;
  const std::string small_scan = request(1, "scan", R"({"root":)" + json_text(dir / "d0") + "}");
  ASSERT_EQ(number(member(args_of(engine.request(request(1, "summary", "{}"))), "result"), "generation"), 0u);
  const std::uint64_t idle = address_space_bytes(engine.pid());
  ASSERT_GT(idle, 0u);
  struct rlimit before;
  ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_AS, nullptr, &before), 0);
  struct rlimit limit = before;
  limit.rlim_cur = idle + 4 * 1048576;
  ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_AS, &limit, nullptr), 0);

  const JsonValue failed = reply_to(engine, request(2, "scan", R"({"root":)" + json_text(dir.path()) + "}"));
  EXPECT_EQ(member(failed, "error"), JsonValue("Out of memory")) << to_json(failed);
  const JsonValue summary = member(args_of(engine.request(request(3, "summary", "{}"))), "result");
  EXPECT_EQ(number(summary, "retained"), 0u);
  EXPECT_EQ(member(summary, "root"), JsonValue());
  EXPECT_EQ(number(summary, "generation"), 1u);
  const JsonValue large = member(args_of(engine.request(request(4, "large", R"({"minimum":0})"))), "result");
  EXPECT_EQ(number(large, "count"), 0u);
  const JsonValue duplicates = reply_to(engine, request(5, "duplicates", R"({"minimum":0})"));
  ASSERT_TRUE(member(member(duplicates, "result"), "groups").is_array()) << to_json(duplicates);
  EXPECT_TRUE(member(member(duplicates, "result"), "groups").as_array().empty()) << to_json(duplicates);
  EXPECT_EQ(member(args_of(engine.request(request(6, "children", "{}"))), "error"), JsonValue("Unknown index entry"));

  // Memory back: the same engine scans again.
  ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_AS, &before, nullptr), 0);
  EXPECT_EQ(number(member(reply_to(engine, small_scan), "result"), "retained"), 401u);
  EXPECT_EQ(engine.finish(), 0);
}

}  // namespace
}  // namespace qm
