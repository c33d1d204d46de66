#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "index/forget_paths.h"
#include "index/scan_test_support.h"
#include "support/deep_tree.h"
#include "support/descriptors.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::allocated_on_disk;
using test::find_entry;
using test::scan;
using test::scan_args;
using test::TempDir;

std::set<std::string> retained_names(const Index& index) {
  std::set<std::string> names;
  for (EntryId id = 1; id < index.count(); ++id) names.insert(std::string(index.name(id)));
  return names;
}

TEST(Scan, EmptyDirectoryGivesOnlyTheRoot) {
  TempDir tree;
  Index index;
  const auto result = scan(index, scan_args(tree.path()));
  ASSERT_TRUE(result.ok()) << result.error();
  const ScanSummary& summary = *result;
  EXPECT_EQ(summary.counts.seen, 1u);
  EXPECT_EQ(summary.retained, 1u);
  EXPECT_EQ(summary.counts.errors, 0u);
  EXPECT_EQ(summary.counts.skipped, 0u);
  EXPECT_EQ(summary.generation, 1u);
  EXPECT_EQ(summary.mode, "analysis");
  ASSERT_TRUE(summary.root);
  EXPECT_EQ(summary.root->parent, kNoEntry);
  EXPECT_EQ(summary.root->path, tree.path());
  EXPECT_EQ(summary.root->name, tree.path().substr(tree.path().rfind('/') + 1));
  EXPECT_EQ(summary.root->metadata.size, 0u);
  EXPECT_TRUE(summary.root->metadata.directory);
  EXPECT_EQ(index.root(), tree.path());
}

struct RootFailureCase {
  std::string description;
  std::string root;  // relative to the temp dir unless absolute
  std::string error;
};

class ScanRootFailure : public ::testing::TestWithParam<RootFailureCase> {};

TEST_P(ScanRootFailure, FailsWithoutTouchingThePreviousIndex) {
  const RootFailureCase& c = GetParam();
  TempDir tree;
  tree.write_file("kept/file.txt", "12345");
  tree.write_file("plain.txt", "x");
  tree.make_symlink("link-to-file", tree / "plain.txt");
  Index index;
  ASSERT_TRUE(scan(index, scan_args(tree / "kept")).ok());
  const std::uint32_t count_before = index.count();
  const std::string root = c.root.empty() || c.root[0] == '/' ? c.root : tree / c.root;
  const auto result = scan(index, scan_args(root));
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), c.error);
  EXPECT_EQ(index.generation(), 1u);
  EXPECT_EQ(index.count(), count_before);
  EXPECT_EQ(index.root(), tree / "kept");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanRootFailure,
    ::testing::Values(RootFailureCase{"regular file", "plain.txt", "Choose a directory"},
                      RootFailureCase{"link to a file", "link-to-file", "Choose a directory"},
                      RootFailureCase{"missing", "no/such/dir", "No such file or directory (os error 2)"},
                      RootFailureCase{"empty", "", "No such file or directory (os error 2)"},
                      RootFailureCase{"below a file", "plain.txt/x", "Not a directory (os error 20)"},
                      RootFailureCase{"nul byte", std::string("/tmp\0x", 6),
                                      "file name contained an unexpected NUL byte"}),
    [](const auto& case_info) {
      std::string name = case_info.param.description;
      std::replace(name.begin(), name.end(), ' ', '_');
      return name;
    });

TEST(Scan, RootGivenThroughALinkIsStoredAsItsTarget) {
  TempDir tree;
  tree.write_file("real/sub/file", "abc");
  tree.make_symlink("alias", tree / "real");
  Index index;
  const auto result = scan(index, scan_args(tree / "alias/./sub/.."));
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(index.root(), tree / "real");
  EXPECT_EQ(result->root->path, tree / "real");
  EXPECT_NE(find_entry(index, tree / "real/sub/file"), kNoEntry);
}

TEST(Scan, ARootWhosePathIsNotTextIsStoredAsTextAndStillListed) {
  TempDir tree;
  tree.write_file("bad\xff/a", "123");
  tree.write_file("bad\xff/sub/b", "45");
  Index index;
  const auto result = scan(index, scan_args(tree / "bad\xff"));
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(index.root(), tree / "bad\xEF\xBF\xBD");
  EXPECT_EQ(result->counts.errors, 0u);
  EXPECT_EQ(result->retained, 4u);
  EXPECT_EQ(index.size(0), 5u);
  EXPECT_NE(find_entry(index, tree / "bad\xEF\xBF\xBD/sub/b"), kNoEntry);
}

TEST(Scan, NamesThatAreNotTextAreShownAsTextAndTheirSubtreesAreStillListed) {
  TempDir tree;
  tree.write_file("dir\xff/inner\xfe/file", "123");
  tree.write_file("dir\xff/loose\xc3", "45");
  tree.write_file("plain/x", "6");
  struct Case {
    std::string root;
    std::uint64_t retained;
    std::uint64_t size;
  };
  // From above such names, and from a root whose own name is not text.
  for (const Case& c : {Case{tree.path(), 7, 6}, Case{tree / "dir\xff", 4, 5}}) {
    SCOPED_TRACE(c.root);
    Index index;
    const auto result = scan(index, scan_args(c.root));
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result->counts.errors, 0u);
    EXPECT_EQ(result->retained, c.retained);
    EXPECT_EQ(index.size(0), c.size);
    const EntryId file = find_entry(index, tree / "dir\xEF\xBF\xBD/inner\xEF\xBF\xBD/file");
    ASSERT_NE(file, kNoEntry);
    EXPECT_EQ(index.os_path(file), tree / "dir\xff/inner\xfe/file");
  }
}

// The size filter of each mode, at its boundaries. Every file counts in the totals
// whether it keeps an entry or is folded into its directory.
struct ModeCase {
  std::string mode;
  std::uint64_t minimum;
  std::set<std::string> retained;
};

class ScanModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ScanModes, RetainOrFoldEachFileAndKeepEveryByteInTheTotals) {
  const ModeCase& c = GetParam();
  TempDir tree;
  tree.make_sparse_file("d/just-below-large", 10485759);
  tree.make_sparse_file("d/large", 10485760);
  tree.make_sparse_file("d/below-minimum", 204799);
  tree.make_sparse_file("d/at-minimum", 204800);
  tree.write_file("d/one-byte", "x");
  tree.write_file("d/empty", "");
  tree.make_sparse_file("d/.DS_Store", 300000);
  tree.make_sparse_file("d/linked", 300000);
  ASSERT_EQ(::link((tree / "d/linked").c_str(), (tree / "d/linked-too").c_str()), 0);
  const std::uint64_t all_sizes = 10485759ull + 10485760 + 204799 + 204800 + 1 + 0 + 300000 + 2 * 300000;

  Index index;
  const auto result = scan(index, scan_args(tree.path(), c.mode, c.minimum));
  ASSERT_TRUE(result.ok()) << result.error();
  std::set<std::string> expected = c.retained;
  expected.insert("d");
  EXPECT_EQ(retained_names(index), expected);
  EXPECT_EQ(result->counts.seen, 11u);
  EXPECT_EQ(result->counts.skipped, 0u);
  EXPECT_EQ(result->retained, expected.size() + 1);
  EXPECT_EQ(result->mode, c.mode);
  const EntryId d = find_entry(index, tree / "d");
  ASSERT_NE(d, kNoEntry);
  EXPECT_EQ(index.size(d), all_sizes);
  EXPECT_EQ(index.size(0), all_sizes);
}

const std::set<std::string> kEveryFile{"just-below-large", "large", "below-minimum", "at-minimum", "one-byte",
                                       "empty", ".DS_Store", "linked", "linked-too"};

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanModes,
    ::testing::Values(
        ModeCase{"analysis", 204800, kEveryFile},  //
        ModeCase{"analysis", 1 << 30, kEveryFile},
        // "large" keeps files of 10 MiB and more whatever the minimum says.
        ModeCase{"large", 1, {"large"}},
        ModeCase{"duplicates", 1, {"just-below-large", "large", "below-minimum", "at-minimum", "one-byte"}},
        ModeCase{"duplicates", 204800, {"just-below-large", "large", "at-minimum"}},
        ModeCase{"browse", 204800, {"just-below-large", "large", "at-minimum", ".DS_Store", "linked", "linked-too"}},
        ModeCase{"", 0, kEveryFile}),
    [](const auto& case_info) { return "mode_" + std::to_string(case_info.index); });

TEST(Scan, HiddenDirectoriesAreLeftOutUnlessAskedForButHiddenFilesStay) {
  TempDir tree;
  tree.write_file(".hidden-dir/inside", "abc");
  tree.write_file("dir/.hidden-sub/inside", "abc");
  tree.write_file("dir/.hidden-file", "abcd");
  struct Case {
    bool include_hidden;
    std::uint64_t skipped;
    std::uint64_t retained;
  };
  for (const Case c : {Case{false, 2, 3}, Case{true, 0, 7}}) {
    Index index;
    ScanRequest args = scan_args(tree.path());
    args.include_hidden = c.include_hidden;
    const auto result = scan(index, args);
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result->counts.skipped, c.skipped) << c.include_hidden;
    EXPECT_EQ(result->retained, c.retained) << c.include_hidden;
    EXPECT_NE(find_entry(index, tree / "dir/.hidden-file"), kNoEntry);
    EXPECT_EQ(find_entry(index, tree / ".hidden-dir/inside") != kNoEntry, c.include_hidden);
    EXPECT_EQ(index.size(0), c.include_hidden ? 10u : 4u);
  }
}

TEST(Scan, ExcludedPathsAndNamesAreSkippedWithTheirSubtrees) {
  TempDir tree;
  tree.write_file("skip-me/a/b", "12");
  tree.write_file("keep/skip-me", "123");  // same name elsewhere: not excluded by path
  tree.write_file("keep/deep/cache/x", "1");
  tree.write_file("keep/cache", "1234");  // a file of the excluded name
  tree.write_file("keep/cached", "12345");
  tree.write_file("other/file", "123456");
  tree.make_symlink("other-alias", tree / "other");

  Index index;
  ScanRequest args = scan_args(tree.path());
  args.exclude_paths = {tree / "skip-me/", tree / "other-alias", tree / "never/there", "relative/skip-me"};
  args.exclude_names = {"cache", "CACHE"};
  const auto result = scan(index, args);
  ASSERT_TRUE(result.ok()) << result.error();
  for (const char* gone : {"skip-me", "skip-me/a", "other", "keep/cache", "keep/deep/cache"}) {
    EXPECT_EQ(find_entry(index, tree / gone), kNoEntry) << gone;
  }
  for (const char* kept : {"keep/skip-me", "keep/cached", "keep/deep", "other-alias"}) {
    if (std::string(kept) == "other-alias") continue;  // a link: skipped by the listing
    EXPECT_NE(find_entry(index, tree / kept), kNoEntry) << kept;
  }
  // skip-me, other, keep/cache, keep/deep/cache by rule; the link by the listing.
  EXPECT_EQ(result->counts.skipped, 5u);
  EXPECT_EQ(index.size(0), 3u + 5u);
}

TEST(Scan, AHardLinkedFileCarriesItsBlocksOnlyWhereFirstMet) {
  TempDir tree;
  const std::string data(1 << 20, 'q');
  tree.write_file("a/original", data);
  tree.make_dir("b");
  ASSERT_EQ(::link((tree / "a/original").c_str(), (tree / "a/second").c_str()), 0);
  ASSERT_EQ(::link((tree / "a/original").c_str(), (tree / "b/third").c_str()), 0);
  const std::uint64_t blocks = allocated_on_disk(tree / "a/original");
  ASSERT_GT(blocks, 0u);

  Index index;
  ASSERT_TRUE(scan(index, scan_args(tree.path())).ok());
  const std::vector<EntryId> ids{find_entry(index, tree / "a/original"), find_entry(index, tree / "a/second"),
                                 find_entry(index, tree / "b/third")};
  ASSERT_EQ(std::count(ids.begin(), ids.end(), kNoEntry), 0);
  const EntryId first = *std::min_element(ids.begin(), ids.end());
  for (const EntryId id : ids) {
    EXPECT_EQ(index.allocated(id), id == first ? blocks : 0u) << index.entry_path(id);
    EXPECT_EQ(index.size(id), data.size());
    EXPECT_EQ(index.links(id), 3u);
  }
  const EntryId holder = index.parent(first);
  for (const char* dir : {"a", "b"}) {
    const EntryId id = find_entry(index, tree / dir);
    EXPECT_EQ(index.allocated(id), id == holder ? blocks : 0u) << dir;
  }
  EXPECT_EQ(index.allocated(0), blocks);
  EXPECT_EQ(index.size(0), 3 * data.size());
}

TEST(Scan, SymbolicLinksAreCountedAsSkippedAndNeverFollowed) {
  TempDir tree;
  tree.write_file("outside/big", std::string(5000, 'x'));
  tree.write_file("root/file", "abc");
  tree.make_symlink("root/to-dir", tree / "outside");
  tree.make_symlink("root/to-file", tree / "outside/big");
  tree.make_symlink("root/dangling", tree / "nothing");
  tree.make_symlink("root/sub/loop", "..");
  Index index;
  const auto result = scan(index, scan_args(tree / "root"));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result->counts.skipped, 4u);
  EXPECT_EQ(result->retained, 3u);  // root, file, sub
  EXPECT_EQ(result->counts.seen, 3u);    // refused links count only as skipped
  EXPECT_EQ(index.size(0), 3u);
}

TEST(Scan, EachScanStartsANewGenerationAndForgetsWhatWasRemoved) {
  TempDir tree;
  tree.write_file("a/x", "1");
  tree.write_file("b/y", "22");
  Index index;
  ASSERT_TRUE(scan(index, scan_args(tree.path())).ok());
  const std::string forgotten = tree / "a";
  forget_paths(index, std::vector<std::string_view>{forgotten});
  EXPECT_TRUE(index.any_removed());
  const auto again = scan(index, scan_args(tree.path()));
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->generation, 2u);
  EXPECT_FALSE(index.any_removed());
  EXPECT_EQ(index.size(0), 3u);
  EXPECT_FALSE(scan(index, scan_args(tree / "a/x")).ok());
  EXPECT_EQ(index.generation(), 2u);  // refused before the reset
}

TEST(Scan, IdsAreTheSameOnEveryScanOfAnUnchangedTree) {
  TempDir tree;
  for (int d = 0; d < 40; ++d) {
    for (int f = 0; f < 6; ++f) {
      tree.write_file("d" + std::to_string(d) + "/s" + std::to_string(d % 3) + "/f" + std::to_string(f), "x");
    }
  }
  auto snapshot = [&](const Index& index) {
    std::vector<std::pair<std::string, EntryId>> rows;
    for (EntryId id = 0; id < index.count(); ++id) {
      rows.emplace_back(index.entry_path(id), index.parent(id));
    }
    return rows;
  };
  Index first;
  ASSERT_TRUE(scan(first, scan_args(tree.path())).ok());
  const auto expected = snapshot(first);
  for (int round = 0; round < 5; ++round) {
    Index index;
    ASSERT_TRUE(scan(index, scan_args(tree.path())).ok());
    EXPECT_EQ(snapshot(index), expected);
  }
}

// A scan that cannot finish leaves no half-built table (no directory totals)
// behind for the queries to answer from: the index is empty, as before any
// scan, with the generation moved on.
TEST(Scan, StopsAtTheIdLimitAndLeavesTheIndexEmpty) {
  TempDir tree;
  tree.write_file("a/1", "1");
  tree.write_file("a/2", "22");
  tree.write_file("b", "333");
  Index index;
  ASSERT_TRUE(scan(index, scan_args(tree.path())).ok());
  index.set_elapsed_ms(4242);
  WalkLimits limits;
  limits.max_entries = 3;
  const auto result = scan(index, scan_args(tree.path()), limits);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "Index exceeds addressable memory");
  EXPECT_EQ(index.count(), 0u);
  EXPECT_EQ(index.generation(), 2u);
  const ScanSummary summary = summarize(index);
  EXPECT_FALSE(summary.root.has_value());
  EXPECT_EQ(summary.retained, 0u);
  EXPECT_EQ(summary.counts.seen, 0u);
  EXPECT_EQ(summary.mode, "");
}

TEST(Scan, StoppingInsideADirectoryReadInPartsLeavesNoDescriptorOpen) {
  TempDir tree;
  const std::string padding(100, 'p');
  for (int i = 0; i < 3000; ++i) tree.write_file("big/" + std::to_string(i) + padding, "");
  const int before = test::open_descriptor_count();
  for (const std::uint64_t limit : {5u, 1000u, 2500u}) {
    Index index;
    WalkLimits limits;
    limits.max_entries = limit;
    limits.parts_ahead = 2;
    const auto result = scan(index, scan_args(tree.path()), limits);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), "Index exceeds addressable memory");
    EXPECT_EQ(index.count(), 0u);
    EXPECT_EQ(test::open_descriptor_count(), before) << "limit " << limit;
  }
}

// Directories are opened by name from their parent, so a path longer than
// PATH_MAX is no limit: every level is listed, with either reader.
TEST(Scan, DirectoriesWhosePathIsLongerThanPathMaxAreListedLikeAnyOther) {
  TempDir tree;
  tree.write_file("short/file", "abc");
  const int levels = 4096 / 201 + 3;
  const test::DeepTree chain(tree.path(), levels, 200);
  for (const DirectoryReader* reader : {&fast_directory_reader(), &portable_directory_reader()}) {
    Index index;
    const auto result = scan(index, scan_args(tree.path()), {}, *reader);
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(result->counts.errors, 0u);
    EXPECT_NE(find_entry(index, tree / "short/file"), kNoEntry);
    EXPECT_EQ(result->retained, 3u + 2 * static_cast<std::uint64_t>(levels));  // a directory and a file per level
  }
}

}  // namespace
}  // namespace qm
