// Walks that go down by descriptors: a directory swapped for a link or for
// another directory while a scan or a measurement runs is never entered, a
// tree deeper than PATH_MAX is walked whole by either reader, the directory
// descriptors held stay bounded however deep and wide the tree, and a scan
// that runs out of memory leaves no half-built index.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>

#include "common/thread_pool.h"
#include "index/entry_lookup.h"
#include "index/listing_pipeline.h"
#include "index/measure_path.h"
#include "index/scan_test_support.h"
#include "support/deep_tree.h"
#include "support/descriptors.h"
#include "support/hooked_reader.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::find_entry;
using test::scan;
using test::scan_args;
using test::TempDir;

struct ReaderCase {
  const char* label;
  const DirectoryReader& reader;
};
const ReaderCase kReaders[] = {{"fast reader", fast_directory_reader()},
                               {"portable reader", portable_directory_reader()}};

// Exchanges two names atomically, as renameat2(RENAME_EXCHANGE) does.
bool exchange_names(const std::string& a, const std::string& b) {
  return ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), 2 /* RENAME_EXCHANGE */) == 0;
}

// An outside directory whose files the walks must never reach: four files of
// 256 KiB, named OUTSIDE-n.
std::string make_outside(const TempDir& dir) {
  for (int i = 0; i < 4; ++i) dir.write_file("outside/OUTSIDE-" + std::to_string(i), std::string(262144, 'o'));
  return dir / "outside";
}

bool indexes_outside(const Index& index) {
  for (EntryId id = 0; id < index.count(); ++id) {
    if (index.name(id).starts_with("OUTSIDE")) return true;
  }
  return false;
}

// ---- a directory swapped for a link while scans run ----

// The reproduction: a directory of the tree and a symbolic link to a directory
// outside it trade places again and again while the tree is scanned and
// measured. A walk that reopens a listed directory by its path follows the
// link in about every other round.
TEST(DescriptorWalk, ADirectorySwappedWithALinkToOutsideIsNeverEnteredByScanOrMeasure) {
  TempDir dir;
  const std::string outside = make_outside(dir);
  for (int i = 0; i < 5; ++i) dir.write_file("tree/a/sub/inside-" + std::to_string(i), "inside");
  const std::string root = dir / "tree";
  dir.make_symlink("tree/a/link", outside);
  std::uint64_t inside_bytes = 0;
  for (int i = 0; i < 5; ++i) inside_bytes += test::allocated_on_disk(root + "/a/sub/inside-" + std::to_string(i));

  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> swaps{0};
  std::thread swapper([&] {
    while (!stop.load()) {
      if (exchange_names(root + "/a/sub", root + "/a/link")) swaps.fetch_add(1);
    }
  });
  const int before = test::open_descriptor_count();
  int outside_scans = 0;
  int outside_measures = 0;
  for (int round = 0; round < 100; ++round) {
    const ReaderCase& c = kReaders[round % 2];
    Index index;
    const auto result = scan(index, scan_args(root), {}, c.reader);
    ASSERT_TRUE(result.ok()) << result.error();
    if (indexes_outside(index)) ++outside_scans;
    // Inside counted at most twice (once under each name, if the swap lands
    // between the two stats); anything more came from outside.
    if (measure_path(root, c.reader).size > 2 * inside_bytes) ++outside_measures;
  }
  stop = true;
  swapper.join();
  EXPECT_GT(swaps.load(), 0u);
  EXPECT_EQ(outside_scans, 0) << "scans that indexed files outside the root";
  EXPECT_EQ(outside_measures, 0) << "measurements that counted files outside the path";
  EXPECT_EQ(test::open_descriptor_count(), before);
}

// The same, one step at a time: the directory listed second is swapped while
// the first is listed, for a link to outside or for another directory. Either
// way the name no longer leads to what was listed, so the walk counts one
// error there and enters nothing.
struct SwapCase {
  const char* label;
  bool for_link;
};

class SwappedBeforeOpening : public ::testing::TestWithParam<SwapCase> {};

TEST_P(SwappedBeforeOpening, TheDirectoryIsAnErrorAndNothingOutsideIsReached) {
  TempDir dir;
  const std::string outside = make_outside(dir);
  const std::string root = dir / "tree";
  dir.write_file("tree/x/in-x", "x");
  dir.write_file("tree/y/in-y", "y");
  if (GetParam().for_link) {
    dir.make_symlink("swap-in", outside);
  } else {
    ASSERT_EQ(::rename(outside.c_str(), (dir / "swap-in").c_str()), 0);
  }
  // Whichever of x and y is listed first, the other one trades places with swap-in.
  std::atomic<bool> swapped{false};
  std::string swapped_with;
  const auto swap_other = [&](std::string_view directory) {
    for (const char* name : {"x", "y"}) {
      if (directory == root + "/" + name && !swapped.exchange(true)) {
        swapped_with = root + (std::string(name) == "x" ? "/y" : "/x");
        ASSERT_TRUE(exchange_names(swapped_with, dir / "swap-in"));
      }
    }
  };
  for (const ReaderCase& c : kReaders) {
    SCOPED_TRACE(c.label);
    const test::HookedReader hooked(c.reader, swap_other);
    {
      swapped = false;
      Index index;
      WalkLimits one_at_a_time;
      one_at_a_time.window = 1;
      const auto result = scan(index, scan_args(root), one_at_a_time, hooked);
      ASSERT_TRUE(result.ok()) << result.error();
      ASSERT_TRUE(swapped.load());
      EXPECT_EQ(result->counts.errors, 1u);
      EXPECT_FALSE(indexes_outside(index));
      EXPECT_EQ(result->retained, 4u);  // the root, x, y and the file of the one listed first
    }
    ASSERT_TRUE(exchange_names(dir / "swap-in", swapped_with));  // back as it was
    {
      swapped = false;
      const PathMeasure measured = measure_path(root, hooked);
      ASSERT_TRUE(swapped.load());
      EXPECT_EQ(measured.errors, 1u);
      EXPECT_LT(measured.size, 262144u);
    }
    ASSERT_TRUE(exchange_names(dir / "swap-in", swapped_with));
  }
}

INSTANTIATE_TEST_SUITE_P(Swaps, SwappedBeforeOpening,
                         ::testing::Values(SwapCase{"for_a_link_to_outside", true},
                                           SwapCase{"for_a_directory_outside", false}),
                         [](const auto& param) { return std::string(param.param.label); });

// ---- subdirectories opened from the parent that was listed ----

// A directory renamed away after it was listed, with another directory of
// the same shape put under its name: its subdirectory is still listed,
// through the descriptor the parent was listed by, while the walk holds
// that. A walk that holds none reopens the parent by name, finds another
// object there, and counts the subdirectory as one error.
struct HeldParentCase {
  const char* label;
  std::size_t parents_held;
  std::uint64_t errors;
  bool lists_the_original;
};

class RenamedAfterListing : public ::testing::TestWithParam<HeldParentCase> {};

TEST_P(RenamedAfterListing, ItsSubdirectoryIsListedFromTheParentThatWasListed) {
  const HeldParentCase& c = GetParam();
  TempDir dir;
  const std::string root = dir / "tree";
  dir.write_file("tree/a/b/original", "12345");
  int renames = 0;
  const auto rename_away = [&](std::string_view directory) {
    if (directory != root + "/a") return;
    ++renames;
    ASSERT_EQ(::rename((root + "/a").c_str(), (dir / "moved").c_str()), 0);
    dir.write_file("tree/a/b/impostor", "1");
  };
  for (const ReaderCase& reader : kReaders) {
    SCOPED_TRACE(reader.label);
    const test::HookedReader hooked(reader.reader, rename_away);
    const int before = test::open_descriptor_count();
    Index index;
    WalkLimits limits;
    limits.parents_held = c.parents_held;
    const auto result = scan(index, scan_args(root), limits, hooked);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(renames, 1);
    EXPECT_EQ(result->counts.errors, c.errors);
    EXPECT_EQ(find_entry(index, root + "/a/b/original") != kNoEntry, c.lists_the_original);
    EXPECT_EQ(find_entry(index, root + "/a/b/impostor"), kNoEntry);
    EXPECT_EQ(test::open_descriptor_count(), before);
    // As it was, for the next reader.
    renames = 0;
    std::filesystem::remove_all(root + "/a");
    ASSERT_EQ(::rename((dir / "moved").c_str(), (root + "/a").c_str()), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(ParentsHeld, RenamedAfterListing,
                         ::testing::Values(HeldParentCase{"held", WalkLimits{}.parents_held, 0, true},
                                           HeldParentCase{"none_held", 0, 1, false}),
                         [](const auto& param) { return std::string(param.param.label); });

// ---- deeper than PATH_MAX ----

// 400 levels of 20-character names: about 8400 bytes of path. Both readers
// give the same counts, and every level can be measured and checked.
TEST(DescriptorWalk, ATreeDeeperThanPathMaxIsScannedMeasuredAndCheckedWholeByEitherReader) {
  TempDir dir;
  const test::DeepTree tree(dir.path(), 400);
  ASSERT_GT(tree.file_path(400).size(), 8000u);
  const std::uint64_t file_blocks = test::allocated_on_disk(tree.file_path(1));
  const int before = test::open_descriptor_count();
  for (const ReaderCase& c : kReaders) {
    SCOPED_TRACE(c.label);
    Index index;
    const auto result = scan(index, scan_args(dir.path()), {}, c.reader);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result->counts.errors, 0u);
    EXPECT_EQ(result->counts.skipped, 0u);
    EXPECT_EQ(result->retained, 1u + 400u * 2);
    EXPECT_EQ(index.size(0), 400u * 10);
    EXPECT_EQ(index.allocated(0), 400u * file_blocks);

    const EntryId deepest_file = find_entry(index, tree.file_path(400));
    const EntryId deepest_directory = find_entry(index, tree.path(400));
    ASSERT_NE(deepest_file, kNoEntry);
    ASSERT_NE(deepest_directory, kNoEntry);
    EXPECT_EQ(index.size(deepest_file), 10u);
    for (const EntryId id : {deepest_file, deepest_directory, EntryId{0}}) {
      const auto checked = revalidate_entry(index, id);
      EXPECT_TRUE(checked.ok()) << index.entry_path(id).size() << " bytes: " << checked.error();
    }

    const PathMeasure measured = measure_path(dir.path(), c.reader);
    EXPECT_EQ(measured.errors, 0u);
    EXPECT_EQ(measured.size, 400u * file_blocks);
  }
  EXPECT_EQ(test::open_descriptor_count(), before);
}

// ---- descriptors held ----

// However deep (a chain far deeper than any descriptor budget) and wide (many
// directories queued at once), the walk holds a bounded number of directory
// descriptors: the window of directories being listed, per worker the
// ancestors it keeps to open the next ones from, and the listed parents it
// holds for their subdirectories.
TEST(DescriptorWalk, TheDescriptorsHeldStayBoundedHoweverDeepAndWideTheTree) {
  TempDir dir;
  const test::DeepTree deep(dir.path(), 300);
  for (int i = 0; i < 300; ++i) dir.write_file("wide/w" + std::to_string(i) + "/leaf/file", "1");
  const int before = test::open_descriptor_count();
  std::atomic<int> most{0};
  const auto record = [&](std::string_view) {
    const int now = test::open_descriptor_count() - before;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {
    }
  };
  const std::size_t workers = std::max<std::size_t>(process_pool().size(), 1);
  for (const ReaderCase& c : kReaders) {
    SCOPED_TRACE(c.label);
    const test::HookedReader hooked(c.reader, record);
    most = 0;
    Index index;
    WalkLimits limits;
    limits.parents_held = 16;
    const auto result = scan(index, scan_args(dir.path()), limits, hooked);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result->counts.errors, 0u);
    EXPECT_EQ(result->retained, 1u + 300 * 2 + 1 + 300 * 3);
    const auto bound =
        static_cast<int>(limits.window + workers * ListingPipeline::kHeldPerWorker + limits.parents_held + 2);
    EXPECT_GT(most.load(), 0);
    EXPECT_LE(most.load(), bound);

    most = 0;
    const PathMeasure measured = measure_path(dir.path(), hooked);
    EXPECT_EQ(measured.errors, 0u);
    EXPECT_LE(most.load(), 40);  // its own budget of 32, the one being listed and the top
    EXPECT_EQ(test::open_descriptor_count(), before);
  }
}

// ---- running out of memory ----

// A reader that runs out of memory at the n-th directory it is given.
class FailingReader final : public DirectoryReader {
 public:
  FailingReader(const DirectoryReader& inner, int fail_at) : inner_(inner), fail_at_(fail_at) {}
  std::unique_ptr<OpenDirectory> adopt(UniqueFd fd, std::string_view path) const override {
    if (++count_ == fail_at_) throw std::bad_alloc();
    return inner_.adopt(std::move(fd), path);
  }

 private:
  const DirectoryReader& inner_;
  int fail_at_;
  mutable std::atomic<int> count_{0};
};

// Memory that runs out in the middle of the walk fails the scan with an error
// that says so, and leaves the index empty as before any scan (the earlier
// scan's ids are gone too: the generation moved on), not a table whose
// directories have no totals.
TEST(DescriptorWalk, AScanThatRunsOutOfMemorySaysSoAndLeavesNoHalfBuiltIndex) {
  TempDir dir;
  for (int d = 0; d < 20; ++d) dir.write_file("d" + std::to_string(d) + "/sub/file", "12345");
  Index index;
  ASSERT_TRUE(scan(index, scan_args(dir.path())).ok());
  const int before = test::open_descriptor_count();
  for (const int fail_at : {1, 2, 15}) {
    SCOPED_TRACE("out of memory at directory " + std::to_string(fail_at));
    const std::uint64_t generation = index.generation();
    const FailingReader failing(fast_directory_reader(), fail_at);
    const auto result = scan(index, scan_args(dir.path()), {}, failing);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "Out of memory");
    EXPECT_EQ(index.count(), 0u);
    EXPECT_EQ(index.generation(), generation + 1);
    const ScanSummary summary = summarize(index);
    EXPECT_FALSE(summary.root.has_value());
    EXPECT_EQ(summary.retained, 0u);
    EXPECT_EQ(test::open_descriptor_count(), before);
  }
  // The next scan works as ever.
  const auto again = scan(index, scan_args(dir.path()));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->retained, 1u + 20 * 3);
  EXPECT_EQ(index.size(0), 20u * 5);
}

}  // namespace
}  // namespace qm
