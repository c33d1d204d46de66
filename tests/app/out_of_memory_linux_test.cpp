// The real engine under an address-space limit (set with prlimit once it has
// started): a request whose line, decoding, command or reply cannot be held is
// answered "Out of memory", and the engine serves on with its index intact.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "support/engine_process.h"
#include "support/sanitizer.h"
#include "support/temp_dir.h"


namespace qm {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// The address space a process holds now (VmSize), in bytes; 0 when unknown.
std::uint64_t address_space_of(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmSize:") {
      std::uint64_t kib = 0;
      status >> kib;
      return kib * 1024;
    }
    status.ignore(SIZE_MAX, '\n');
  }
  return 0;
}

// Limits the engine to the address space it holds now plus headroom.
void limit_address_space(const test::EngineProcess& engine, std::uint64_t headroom) {
  const std::uint64_t now = address_space_of(engine.pid());
  ASSERT_GT(now, 0u);
  const rlimit limit{now + headroom, now + headroom};
  ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_AS, &limit, nullptr), 0);
}

// Sends a request line; its reply, after the progress events written before it.
std::string reply_to(test::EngineProcess& engine, const std::string& line, int timeout_ms = 120000) {
  engine.send_line(line);
  for (;;) {
    const auto read = engine.read_line(timeout_ms);
    if (!read) return "<no reply>";
    if (read->rfind("{\"request\":", 0) == 0 || read->rfind("{\"error\":", 0) == 0) return *read;
  }
}

// A reply without its request id, for comparing replies to different requests.
std::string without_id(const std::string& reply) {
  const std::size_t result = reply.find(",\"result\"");
  return result == std::string::npos ? reply : reply.substr(result);
}

class OutOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::kUnderSanitizer) GTEST_SKIP() << "an address-space limit cannot be set under a sanitizer";
    // A vanished engine must fail the test, not kill it with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
  }

  // Scans a small tree and measures a few paths (so the workers have run and
  // hold their memory), then limits the engine to headroom more than it has.
  // The summary of the scan, as replied before the limit.
  std::string scan_then_limit(test::EngineProcess& engine, const test::TempDir& tree, std::uint64_t headroom) {
    const std::string scan = reply_to(engine, R"({"request":100,"command":"scan","args":{"root":")" + tree.path() +
                                            R"(","mode":"duplicates","minimum":1}})");
    EXPECT_EQ(scan.find("\"error\""), std::string::npos) << scan;
    std::string paths;
    for (int i = 0; i < 64; ++i) paths += (i ? ",\"" : "\"") + tree.path() + "\"";
    const std::string measured = reply_to(engine, R"({"request":101,"command":"measure","args":{"paths":[)" + paths + "]}}");
    EXPECT_EQ(measured.find("\"error\""), std::string::npos) << measured.substr(0, 200);
    const std::string summary = reply_to(engine, R"({"request":102,"command":"summary"})");
    limit_address_space(engine, headroom);
    return without_id(summary);
  }
};

TEST_F(OutOfMemory, ALineADecodingOrACommandThatCannotBeHeldIsAnsweredAndTheEngineServesOn) {
  test::TempDir tree;
  tree.write_file("a", "same");
  tree.write_file("dir/b", "same");
  test::EngineProcess engine;
  const std::string summary = scan_then_limit(engine, tree, 48 * kMiB);

  struct Case {
    const char* description;
    std::string line;
    std::string reply;
  };
  // Four million empty paths: a 12 MB line whose decoded array alone takes 64 MB.
  std::string empty_paths;
  for (int i = 0; i < 4'000'000; ++i) empty_paths += i ? ",\"\"" : "\"\"";
  const std::vector<Case> cases = {
      // A line that cannot be held has no request id to reply with.
      {"a 50 MB line", R"({"request":1,"command":"measure","args":{"paths":[")" + std::string(50 * kMiB, 'p') + "\"]}}",
       R"({"error":"Out of memory"})"},
      {"a 100 MB string request id", R"({"request":")" + std::string(100 * kMiB, '7') + R"(","command":"summary"})",
       R"({"error":"Out of memory"})"},
      {"a measure request whose paths cannot be held",
       R"({"request":3,"command":"measure","args":{"paths":[)" + empty_paths + "]}}",
       R"({"error":"Out of memory","request":3})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    EXPECT_EQ(reply_to(engine, c.line), c.reply);
    // Served on, with the same index.
    const std::string after = reply_to(engine, R"({"request":102,"command":"summary"})");
    EXPECT_EQ(without_id(after), summary);
  }
  EXPECT_EQ(engine.finish(), 0);
}

TEST_F(OutOfMemory, DuplicatesOnALargeIndexReplies) {
  // Many small groups: the reply lists every file with its path and metadata.
  test::TempDir tree;
  constexpr int kGroups = 2000;
  for (int g = 0; g < kGroups; ++g) {
    const std::string content = "content of group " + std::to_string(g);
    const std::string name = "group-" + std::to_string(g) + "-with-a-longer-name-than-most-files-have";
    tree.write_file("one/" + name, content);
    tree.write_file("two/" + name, content);
  }
  // Where memory runs out depends on the limit: the groups may not be found,
  // or found with no room left for their reply (a window of about a megabyte
  // whose place moves with the build), so a range of limits is tried.
  int found = 0;  // limits under which the groups were found
  for (std::uint64_t headroom = 0; headroom <= 16 * kMiB; headroom += kMiB) {
    SCOPED_TRACE("headroom " + std::to_string(headroom));
    test::EngineProcess engine;
    const std::string summary = scan_then_limit(engine, tree, headroom);
    const auto reply = reply_to(engine, R"({"request":7,"command":"duplicates","args":{"minimum":1}})");
    // Whether it found the groups or ran out of memory, the reply is the request's one line.
    if (reply != R"({"error":"Out of memory","request":7})") {
      EXPECT_EQ(reply.rfind(R"({"request":7,"result":{"elapsedMs":)", 0), 0u) << reply.substr(0, 200);
      std::size_t groups = 0;
      for (std::size_t at = reply.find("\"reclaimable\""); at != std::string::npos;
           at = reply.find("\"reclaimable\"", at + 1)) {
        ++groups;
      }
      EXPECT_EQ(groups, std::size_t{kGroups});
      ++found;
    }
    const std::string after = reply_to(engine, R"({"request":102,"command":"summary"})");
    EXPECT_EQ(without_id(after), summary);
    EXPECT_EQ(engine.finish(), 0);
  }
  EXPECT_GT(found, 0);
}

}  // namespace
}  // namespace qm
