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
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "index/measure_path.h"
#include "index/scan_test_support.h"
#include "support/hooked_reader.h"
#include "support/recording_progress.h"
#include "support/step_clock.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::allocated_on_disk;
using test::find_entry;
using test::scan;
using test::scan_args;
using test::TempDir;

// A scan whose clock moves on by `step` at every reading, reporting to progress.
Result<ScanSummary> scan_reporting(Index& index, const std::string& root, std::chrono::nanoseconds step,
                                   test::RecordingProgress& progress) {
  const test::StepClock clock(step);
  return run_scan(index, scan_args(root), ScanContext{fast_directory_reader(), clock, progress});
}

TEST(ScanProgress, AReportFollowsEveryMergeOnceTheSpacingHasPassed) {
  TempDir tree;
  std::string chain = "c";
  for (int level = 0; level < 90; ++level) {
    tree.write_file(chain + "/file", "abc");
    chain += "/c";
  }
  // Every reading of the clock is 200 ms after the one before, so each merge
  // of the 91 directories (the root and the chain) is reported.
  Index index;
  test::RecordingProgress progress;
  const auto result = scan_reporting(index, tree.path(), std::chrono::milliseconds(200), progress);
  ASSERT_TRUE(result.ok());
  const auto reports = progress.indexing_reports();
  std::set<std::string> reported;
  for (const auto& report : reports) reported.insert(report.path);
  EXPECT_EQ(reported.size(), 91u);
  std::uint64_t last_entries = 0;
  std::uint64_t last_elapsed = 0;
  for (const auto& report : reports) {
    EXPECT_GE(report.entries, last_entries);
    EXPECT_GT(report.elapsed_ms, last_elapsed);
    EXPECT_EQ(report.errors, 0u);
    EXPECT_EQ(report.skipped, 0u);
    EXPECT_EQ(report.path.rfind(tree.path(), 0), 0u) << "a directory of the tree: " << report.path;
    last_entries = report.entries;
    last_elapsed = report.elapsed_ms;
  }
  EXPECT_EQ(reports.front().path, tree.path());
  EXPECT_EQ(reports.back().path, tree / chain.substr(0, chain.size() - 2));
  EXPECT_EQ(last_entries, result->counts.seen);
  EXPECT_TRUE(progress.stage_reports().empty());
}

TEST(ScanProgress, NoReportBeforeTheSpacingHasPassed) {
  TempDir tree;
  for (int d = 0; d < 20; ++d) tree.write_file("d" + std::to_string(d) + "/f", "1");
  Index index;
  test::RecordingProgress progress;
  // 100 ms per reading: a merge comes 100 ms after the one before, less than
  // the spacing, so reports come at most every other merge.
  const auto slow = scan_reporting(index, tree.path(), std::chrono::milliseconds(100), progress);
  ASSERT_TRUE(slow.ok());
  const auto reports = progress.indexing_reports();
  ASSERT_GE(reports.size(), 10u);
  for (std::size_t i = 1; i < reports.size(); ++i) {
    EXPECT_GE(reports[i].elapsed_ms - reports[i - 1].elapsed_ms, 120u) << "report " << i;
  }
  test::RecordingProgress none;
  ASSERT_TRUE(scan_reporting(index, tree.path(), std::chrono::nanoseconds(0), none).ok());
  EXPECT_TRUE(none.indexing_reports().empty());
}

// Entries that vanish between being named and being read are counted, not fatal.
TEST(ScanWhileChanging, EntriesGoneBeforeTheirStatAreSkippedAndDirectoriesGoneBeforeListingAreErrors) {
  TempDir tree;
  tree.write_file("stay", "1");
  tree.write_file("victim", "22");
  tree.make_dir("victim-dir");
  tree.make_dir("p/q/first");
  tree.make_dir("p/q/second");
  const std::string base = tree.path();
  std::atomic<bool> sibling_removed{false};
  // Listing the root: remove two of its entries after their names were read.
  // Listing either child of p/q: remove the other one, which is indexed but not yet listed.
  const test::HookedReader mutate(fast_directory_reader(), [&](std::string_view directory) {
    if (directory == base) {
      ::unlink((base + "/victim").c_str());
      ::rmdir((base + "/victim-dir").c_str());
    } else if (!sibling_removed.exchange(true)) {
      if (directory == base + "/p/q/first") ::rmdir((base + "/p/q/second").c_str());
      else if (directory == base + "/p/q/second") ::rmdir((base + "/p/q/first").c_str());
      else sibling_removed = false;
    }
  });
  Index index;
  WalkLimits one_at_a_time;
  one_at_a_time.window = 1;  // so the two siblings are listed one after the other
  const auto result = scan(index, scan_args(tree.path()), one_at_a_time, mutate);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result->counts.skipped, 2u);
  EXPECT_EQ(result->counts.errors, 1u);
  EXPECT_EQ(result->retained, 6u);  // root, stay, p, q, first, second
  EXPECT_EQ(find_entry(index, tree / "victim"), kNoEntry);
  EXPECT_EQ(summarize(index).retained, 6u);
}

// Whatever a churned tree held at each moment, the index must hang together:
// parents before children, parents are directories, the root holds every byte.
void expect_consistent(const Index& index) {
  std::uint64_t file_bytes = 0;
  for (EntryId id = 1; id < index.count(); ++id) {
    ASSERT_LT(index.parent(id), id);
    ASSERT_TRUE(index.is_directory(index.parent(id)));
    if (!index.is_directory(id)) file_bytes += index.size(id);
  }
  EXPECT_EQ(index.size(0), file_bytes);
}

TEST(ScanWhileChanging, ATreeChurnedByAnotherThreadIsScannedConsistentlyEveryTime) {
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
  Index index;
  for (int round = 0; round < 15; ++round) {
    const auto result = scan(index, scan_args(tree.path()));
    ASSERT_TRUE(result.ok()) << result.error();
    expect_consistent(index);
    EXPECT_GE(result->counts.seen, index.count());
  }
  stop = true;
  churn.join();
  // Once the tree is still, a scan sees exactly what is there.
  const auto settled = scan(index, scan_args(tree.path()));
  ASSERT_TRUE(settled.ok());
  EXPECT_EQ(settled->counts.errors, 0u);
  EXPECT_EQ(settled->counts.skipped, 0u);
  EXPECT_EQ(index.size(0), 30u * 10u * 4u);
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
  Index index;
  for (int round = 0; round < 10; ++round) {
    WalkLimits limits;
    limits.parts_ahead = 1 + static_cast<std::size_t>(round % 3);
    const auto result = scan(index, scan_args(tree.path()), limits);
    ASSERT_TRUE(result.ok()) << result.error();
    expect_consistent(index);
  }
  stop = true;
  churn.join();
  // Once the tree is still, a scan sees exactly what is there.
  std::uint64_t present = 0;
  for (const auto& entry : std::filesystem::directory_iterator(tree / "big")) {
    (void)entry;
    ++present;
  }
  const auto settled = scan(index, scan_args(tree.path()));
  ASSERT_TRUE(settled.ok());
  EXPECT_EQ(settled->counts.errors, 0u);
  EXPECT_EQ(settled->retained, 2 + present);
  EXPECT_EQ(summarize(index).retained, 2 + present);
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
  Index index;
  const auto result = scan(index, scan_args(tree.path()));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(find_entry(index, tree / "mnt"), kNoEntry);
  EXPECT_EQ(result->counts.skipped, 1u);
  EXPECT_EQ(index.size(0), 5u);
  // Measuring knows no boundary.
  const PathMeasure measured = measure_path(tree.path(), fast_directory_reader());
  EXPECT_EQ(measured.errors, 0u);
  EXPECT_EQ(measured.size, allocated_on_disk(tree / "local/file") + allocated_on_disk(tree / "mnt/elsewhere"));
}

TEST(ScanBoundaries, ADirectoryReachedASecondTimeIsSkippedThere) {
  TempDir tree;
  tree.write_file("a/file", "12345");
  tree.make_dir("b/again");
  tree.make_dir("b/loop");
  Mount again(tree / "a", tree / "b/again", nullptr, MS_BIND);
  Mount loop(tree.path(), tree / "b/loop", nullptr, MS_BIND);  // the root inside itself
  if (!again.mounted() || !loop.mounted()) GTEST_SKIP() << "cannot bind-mount here";
  Index index;
  const auto result = scan(index, scan_args(tree.path()));
  ASSERT_TRUE(result.ok());
  EXPECT_NE(find_entry(index, tree / "a/file"), kNoEntry);
  EXPECT_EQ(find_entry(index, tree / "b/again"), kNoEntry);
  EXPECT_EQ(find_entry(index, tree / "b/loop"), kNoEntry);
  EXPECT_EQ(result->counts.skipped, 2u);
  EXPECT_EQ(index.size(0), 5u);
}

}  // namespace
}  // namespace qm
