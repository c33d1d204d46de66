// The walk under conditions a plain tree does not give: slow listings (progress
// events), a tree that changes while it is read, and mount points.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fs/listing_hook.h"
#include "index/run_scan.h"
#include "scan_test_support.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::find_entry;
using test::number;
using test::scan_args;
using test::TempDir;

// Sets a listing hook for the life of the object.
class HookGuard {
 public:
  explicit HookGuard(ListingHook hook) { set_listing_hook(hook); }
  ~HookGuard() { set_listing_hook(nullptr); }
  HookGuard(const HookGuard&) = delete;
  HookGuard& operator=(const HookGuard&) = delete;
};

// Sends standard output to a file while it lives; text() reads what was written.
class StdoutCapture {
 public:
  explicit StdoutCapture(const std::string& file) : file_(file) {
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutCapture() { restore(); }
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  std::vector<std::string> lines() {
    restore();
    std::ifstream in(file_);
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stdout);
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    saved_ = -1;
  }
  std::string file_;
  int saved_ = -1;
};

// An indexing event with exactly the scan's members, in key order, and no
// errors or skips; nullopt for any other line.
struct ProgressLine {
  std::uint64_t elapsed = 0;
  std::uint64_t entries = 0;
  std::string path;
};

std::optional<ProgressLine> parse_progress_line(std::string_view line, std::uint64_t request) {
  const auto take = [&line](std::string_view literal) {
    if (line.substr(0, literal.size()) != literal) return false;
    line.remove_prefix(literal.size());
    return true;
  };
  const auto take_number = [&line](std::uint64_t& value) {
    const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    if (error != std::errc() || end == line.data()) return false;
    line.remove_prefix(static_cast<std::size_t>(end - line.data()));
    return true;
  };
  ProgressLine event;
  if (!take(R"({"elapsedMs":)") || !take_number(event.elapsed) || !take(R"(,"entries":)") ||
      !take_number(event.entries) || !take(R"(,"errors":0,"event":"progress","path":")")) {
    return std::nullopt;
  }
  const std::size_t quote = line.find('"');
  if (quote == std::string_view::npos) return std::nullopt;
  event.path = std::string(line.substr(0, quote));
  line.remove_prefix(quote);
  const std::string rest = R"(","phase":"indexing","request":)" + std::to_string(request) + R"(,"skipped":0})";
  if (!take(rest) || !line.empty()) return std::nullopt;
  return event;
}

TEST(ScanProgress, ASlowWalkWritesIndexingEventsWithExactlyTheScanMembers) {
  TempDir tree;
  TempDir output;
  std::string chain = "c";
  for (int level = 0; level < 90; ++level) {
    tree.write_file(chain + "/file", "abc");
    chain += "/c";
  }
  // Each directory of the chain is a batch of its own; 3 ms per listing makes
  // the walk last well over 120 ms.
  HookGuard slow(+[](std::string_view) { std::this_thread::sleep_for(std::chrono::milliseconds(3)); });
  Engine engine;
  StdoutCapture capture(output / "stdout");
  const CommandResult result = scan_command(engine, scan_args(tree.path()), 4711);
  const std::vector<std::string> lines = capture.lines();
  ASSERT_TRUE(result.ok());
  ASSERT_GE(lines.size(), 1u);
  std::uint64_t last_entries = 0;
  std::uint64_t last_elapsed = 0;
  for (const std::string& line : lines) {
    const std::optional<ProgressLine> event = parse_progress_line(line, 4711);
    ASSERT_TRUE(event) << line;
    EXPECT_GE(event->entries, last_entries);
    EXPECT_GE(event->elapsed, last_elapsed);
    EXPECT_GE(event->elapsed, 120u);
    EXPECT_EQ(event->path.rfind(tree / "c", 0), 0u) << "a directory of the tree: " << event->path;
    last_entries = event->entries;
    last_elapsed = event->elapsed;
  }
  EXPECT_LE(last_entries, number(*result, "entries"));
}

TEST(ScanProgress, AFastWalkWritesNoEvent) {
  TempDir tree;
  TempDir output;
  tree.write_file("a/b", "1");
  Engine engine;
  StdoutCapture capture(output / "stdout");
  const CommandResult result = scan_command(engine, scan_args(tree.path()), 1);
  const std::vector<std::string> lines = capture.lines();
  ASSERT_TRUE(result.ok());
  // Nothing this small takes 120 ms unless the machine stalls; the reply's own clock says which.
  if (number(*result, "elapsedMs") < 100) {
    EXPECT_TRUE(lines.empty());
  }
}

// Entries that vanish between being named and being read are counted, not fatal.
std::string g_mutation_base;
std::atomic<bool> g_sibling_removed{false};

TEST(ScanWhileChanging, EntriesGoneBeforeTheirStatAreSkippedAndDirectoriesGoneBeforeListingAreErrors) {
  TempDir tree;
  tree.write_file("stay", "1");
  tree.write_file("victim", "22");
  tree.make_dir("victim-dir");
  tree.make_dir("p/q/first");
  tree.make_dir("p/q/second");
  g_mutation_base = tree.path();
  g_sibling_removed = false;
  // Listing the root: remove two of its entries after their names were read.
  // Listing either child of p/q: remove the other one, which is indexed but not yet listed.
  HookGuard mutate(+[](std::string_view directory) {
    if (directory == g_mutation_base) {
      ::unlink((g_mutation_base + "/victim").c_str());
      ::rmdir((g_mutation_base + "/victim-dir").c_str());
    } else if (!g_sibling_removed.exchange(true)) {
      if (directory == g_mutation_base + "/p/q/first") ::rmdir((g_mutation_base + "/p/q/second").c_str());
      else if (directory == g_mutation_base + "/p/q/second") ::rmdir((g_mutation_base + "/p/q/first").c_str());
      else g_sibling_removed = false;
    }
  });
  Engine engine;
  WalkLimits one_at_a_time;
  one_at_a_time.window = 1;  // so the two siblings are listed one after the other
  const CommandResult result = run_scan(engine.index, scan_args(tree.path()), 1, one_at_a_time);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(number(*result, "skipped"), 2u);
  EXPECT_EQ(number(*result, "errors"), 1u);
  EXPECT_EQ(number(*result, "retained"), 6u);  // root, stay, p, q, first, second
  EXPECT_EQ(find_entry(engine.index, tree / "victim"), kNoEntry);
  EXPECT_TRUE(summary_command(engine).ok());
}

// Whatever a churned tree held at each moment, the index must hang together:
// parents before children, parents are directories, the root holds every byte.
void expect_consistent(const Index& index) {
  std::uint64_t file_bytes = 0;
  for (EntryId id = 1; id < index.count(); ++id) {
    ASSERT_LT(index.entry(id).parent, id);
    ASSERT_TRUE(index.entry(index.entry(id).parent).directory());
    if (!index.entry(id).directory()) file_bytes += index.entry(id).size;
  }
  EXPECT_EQ(index.entry(0).size, file_bytes);
}

TEST(ScanWhileChanging, ATreeChurnedByAnotherThreadIsScannedConsistentlyAndTheEngineKeepsServing) {
  TempDir tree;
  for (int d = 0; d < 30; ++d) {
    for (int f = 0; f < 10; ++f) tree.write_file("d" + std::to_string(d) + "/f" + std::to_string(f), "data");
  }
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    std::mt19937 random(3);
    while (!stop.load()) {
      const std::string dir = tree / ("d" + std::to_string(random() % 30));
      const std::string extra = dir + "/extra" + std::to_string(random() % 5);
      switch (random() % 4) {
        case 0: ::mkdir(extra.c_str(), 0755); break;
        case 1: ::rmdir(extra.c_str()); break;
        case 2: ::close(::open((extra + "-file").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)); break;
        default: ::unlink((extra + "-file").c_str()); break;
      }
    }
  });
  Engine engine;
  for (int round = 0; round < 15; ++round) {
    const CommandResult result = scan_command(engine, scan_args(tree.path()), 1);
    ASSERT_TRUE(result.ok()) << result.error();
    expect_consistent(engine.index);
    EXPECT_GE(number(*result, "entries"), engine.index.count());
  }
  stop = true;
  churn.join();
  // Once the tree is still, a scan sees exactly what is there.
  const CommandResult settled = scan_command(engine, scan_args(tree.path()), 2);
  ASSERT_TRUE(settled.ok());
  EXPECT_EQ(number(*settled, "errors"), 0u);
  EXPECT_EQ(number(*settled, "skipped"), 0u);
  EXPECT_EQ(engine.index.entry(0).size, 30u * 10u * 4u);
}

TEST(ScanWhileChanging, AHugeDirectoryChurnedWhileReadInPartsIsScannedConsistently) {
  TempDir tree;
  const std::string padding(80, 'p');
  for (int f = 0; f < 3000; ++f) tree.write_file("big/f" + std::to_string(f) + padding, "data");
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    std::mt19937 random(5);
    while (!stop.load()) {
      const std::string victim = tree / ("big/f" + std::to_string(random() % 3000) + padding);
      const std::string extra = tree / ("big/extra" + std::to_string(random() % 50));
      switch (random() % 4) {
        case 0: ::unlink(victim.c_str()); break;
        case 1: ::close(::open(victim.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)); break;
        case 2: ::mkdir(extra.c_str(), 0755); break;
        default: ::rmdir(extra.c_str()); break;
      }
    }
  });
  Engine engine;
  for (int round = 0; round < 10; ++round) {
    WalkLimits limits;
    limits.parts_ahead = 1 + static_cast<std::size_t>(round % 3);
    const CommandResult result = run_scan(engine.index, scan_args(tree.path()), 1, limits);
    ASSERT_TRUE(result.ok()) << result.error();
    expect_consistent(engine.index);
  }
  stop = true;
  churn.join();
  // Once the tree is still, a scan sees exactly what is there.
  std::uint64_t present = 0;
  for (const auto& entry : std::filesystem::directory_iterator(tree / "big")) {
    (void)entry;
    ++present;
  }
  const CommandResult settled = run_scan(engine.index, scan_args(tree.path()), 2, WalkLimits{});
  ASSERT_TRUE(settled.ok());
  EXPECT_EQ(number(*settled, "errors"), 0u);
  EXPECT_EQ(number(*settled, "retained"), 2 + present);
  EXPECT_TRUE(summary_command(engine).ok());
}

// A mount made for one test and detached when it ends.
class Mount {
 public:
  Mount(const std::string& source, const std::string& target, const char* type, unsigned long flags)
      : target_(target) {
    mounted_ = ::mount(source.c_str(), target.c_str(), type, flags, nullptr) == 0;
  }
  ~Mount() {
    if (mounted_) ::umount2(target_.c_str(), MNT_DETACH);
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string target_;
  bool mounted_ = false;
};

TEST(ScanBoundaries, AnotherFileSystemInsideTheTreeIsSkippedAtItsMountPoint) {
  TempDir tree;
  tree.write_file("local/file", "12345");
  tree.make_dir("mnt");
  Mount tmpfs("tmpfs", tree / "mnt", "tmpfs", 0);
  if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount here";
  tree.write_file("mnt/elsewhere", std::string(100, 'x'));
  Engine engine;
  const CommandResult result = scan_command(engine, scan_args(tree.path()), 1);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(find_entry(engine.index, tree / "mnt"), kNoEntry);
  EXPECT_EQ(number(*result, "skipped"), 1u);
  EXPECT_EQ(engine.index.entry(0).size, 5u);
  // Measuring knows no boundary.
  const CommandResult measured = measure_command(JsonArray{JsonValue(tree.path())});
  ASSERT_TRUE(measured.ok());
  EXPECT_EQ(number(measured->as_array()[0], "errors"), 0u);
}

TEST(ScanBoundaries, ADirectoryReachedASecondTimeIsSkippedThere) {
  TempDir tree;
  tree.write_file("a/file", "12345");
  tree.make_dir("b/again");
  tree.make_dir("b/loop");
  Mount again(tree / "a", tree / "b/again", nullptr, MS_BIND);
  Mount loop(tree.path(), tree / "b/loop", nullptr, MS_BIND);  // the root inside itself
  if (!again.mounted() || !loop.mounted()) GTEST_SKIP() << "cannot bind-mount here";
  Engine engine;
  const CommandResult result = scan_command(engine, scan_args(tree.path()), 1);
  ASSERT_TRUE(result.ok());
  EXPECT_NE(find_entry(engine.index, tree / "a/file"), kNoEntry);
  EXPECT_EQ(find_entry(engine.index, tree / "b/again"), kNoEntry);
  EXPECT_EQ(find_entry(engine.index, tree / "b/loop"), kNoEntry);
  EXPECT_EQ(number(*result, "skipped"), 2u);
  EXPECT_EQ(engine.index.entry(0).size, 5u);
}

}  // namespace
}  // namespace qm
