#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_test_support.h"

namespace qm {
namespace {

using test::find_entry;
using test::member;
using test::number;
using test::scan_command;
using test::scan_args;
using test::TempDir;

TEST(Summary, RepeatsTheScanReplyAndChangesNothing) {
  TempDir tree;
  tree.write_file("a/b", "12345");
  Engine engine;
  const CommandResult scanned = scan_command(engine, scan_args(tree.path()));
  ASSERT_TRUE(scanned.ok());
  for (int i = 0; i < 2; ++i) {
    const CommandResult summary = summary_command(engine);
    ASSERT_TRUE(summary.ok());
    EXPECT_EQ(to_json(*summary), to_json(*scanned));
  }
}

// A small tree with known sizes; folded bytes come from the "browse" mode's minimum.
class ForgetCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.write_file("docs/report.txt", std::string(1000, 'r'));
    tree_.write_file("docs/old/draft.txt", std::string(300, 'd'));
    tree_.write_file("docs/old/notes.txt", std::string(20, 'n'));  // folded: below the minimum
    tree_.write_file("music/song.mp3", std::string(5000, 's'));
    tree_.write_file("docs-archive/x", std::string(700, 'x'));
    ASSERT_TRUE(scan_command(engine_, scan_args(tree_.path(), "browse", 100)).ok());
    ASSERT_EQ(root().size, 7020u);
  }

  struct Sizes {
    std::uint64_t size;
    std::uint64_t allocated;
  };
  Sizes sizes_of(EntryId id) const { return {engine_.index.size(id), engine_.index.allocated(id)}; }
  Sizes root() const { return sizes_of(0); }
  Sizes at(const char* relative) const { return sizes_of(id_of(relative)); }
  std::size_t removed_count() const {
    std::size_t removed = 0;
    for (EntryId id = 0; id < engine_.index.count(); ++id) removed += engine_.index.is_removed(id);
    return removed;
  }
  EntryId id_of(const char* relative) const { return find_entry(engine_.index, tree_ / relative); }
  CommandResult forget(std::vector<JsonValue> paths) { return forget_command(engine_, JsonArray(std::move(paths))); }

  TempDir tree_;
  Engine engine_;
};

TEST_F(ForgetCommand, AFileLeavesTheIndexAndItsAncestorsShrinkByItsSize) {
  const EntryId report = id_of("docs/report.txt");
  const std::uint64_t allocated_before = root().allocated;
  const std::uint64_t report_allocated = at("docs/report.txt").allocated;
  const CommandResult result = forget({JsonValue(tree_ / "docs/report.txt")});
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(number(*result, "retained"), engine_.index.count());
  EXPECT_EQ(at("docs").size, 320u);
  EXPECT_EQ(root().size, 6020u);
  EXPECT_EQ(root().allocated, allocated_before - report_allocated);
  EXPECT_EQ(number(member(*result, "root"), "size"), 6020u);
  const auto lookup = lookup_entry(engine_.index, report);
  ASSERT_FALSE(lookup.ok());
  EXPECT_EQ(lookup.error(), "Item was removed");
  const CommandResult children = children_command(engine_, id_of("docs"), 0);
  ASSERT_TRUE(children.ok());
  EXPECT_EQ(to_json(*children).find("report.txt"), std::string::npos);
}

TEST_F(ForgetCommand, ADirectoryTakesItsWholeSubtreeButNotANameThatOnlyStartsTheSame) {
  const std::uint32_t count = engine_.index.count();
  const CommandResult result = forget({JsonValue(tree_ / "docs")});
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(number(*result, "retained"), count);
  for (const char* gone : {"docs", "docs/report.txt", "docs/old", "docs/old/draft.txt"}) {
    EXPECT_TRUE(engine_.index.is_removed(id_of(gone))) << gone;
  }
  EXPECT_FALSE(engine_.index.is_removed(id_of("docs-archive")));
  EXPECT_FALSE(engine_.index.is_removed(id_of("docs-archive/x")));
  // The folded 20 bytes of docs/old had no entry, so they stay in the totals.
  EXPECT_EQ(root().size, 5000u + 700u + 20u);
}

TEST_F(ForgetCommand, TheSamePathTwiceChangesNothingTheSecondTime) {
  ASSERT_TRUE(forget({JsonValue(tree_ / "docs/old")}).ok());
  const std::string once = to_json(*summary_command(engine_));
  ASSERT_TRUE(forget({JsonValue(tree_ / "docs/old"), JsonValue(tree_ / "docs/old/draft.txt")}).ok());
  EXPECT_EQ(to_json(*summary_command(engine_)), once);
  EXPECT_EQ(root().size, 7020u - 300u);
}

TEST_F(ForgetCommand, TheRootPathTakesEverythingButTheRoot) {
  for (const std::string& spelling : {tree_.path(), tree_.path() + "/", std::string("/")}) {
    SetUp();  // a fresh scan for each spelling
    if (HasFatalFailure()) return;
    ASSERT_TRUE(forget({JsonValue(spelling)}).ok());
    EXPECT_FALSE(engine_.index.is_removed(0));
    EXPECT_EQ(removed_count(), engine_.index.count() - 1u) << spelling;
    EXPECT_EQ(root().size, 20u) << spelling;  // only what was folded
    EXPECT_TRUE(lookup_entry(engine_.index, 0).ok());
  }
}

TEST_F(ForgetCommand, PathsAreComparedByComponentsAndOddElementsAreIgnored) {
  struct Case {
    std::vector<JsonValue> paths;
    std::vector<const char*> removed;
  };
  const std::string base = tree_.path();
  const std::vector<Case> cases{
      {{JsonValue(5), JsonValue(nullptr), JsonValue(true), JsonValue(JsonObject{})}, {}},
      {{JsonValue("docs/report.txt"), JsonValue(""), JsonValue("./docs")}, {}},  // relative: nothing
      {{JsonValue(base + "/docs/rep"), JsonValue(base + "/doc")}, {}},            // partial names: nothing
      {{JsonValue(base + "/music/song.mp3/more")}, {}},
      {{JsonValue(7), JsonValue(base + "//docs/./old//")}, {"docs/old", "docs/old/draft.txt"}},
      {{JsonValue(base + "/music/")}, {"music", "music/song.mp3"}},
  };
  for (const Case& c : cases) {
    SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(forget(c.paths).ok());
    EXPECT_EQ(removed_count(), c.removed.size()) << to_json(JsonValue(JsonArray(c.paths)));
    for (const char* gone : c.removed) EXPECT_TRUE(engine_.index.is_removed(id_of(gone))) << gone;
  }
}

}  // namespace
}  // namespace qm
