#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>

#include "hashing/blake3_hex.h"
#include "hashing/find_duplicates.h"
#include "hashing/hashing_test_support.h"
#include "support/descriptors.h"
#include "support/recording_progress.h"

namespace qm {
namespace {

using test::engine_over;
using test::id_of;
using test::make_old;
using test::pseudo_random_bytes;
using test::TempDir;

struct DuplicatesRun {
  DuplicateReport report;
  std::vector<test::RecordedStage> stages;  // every progress report, in order
};

DuplicatesRun run_duplicates(test::HashingState& state, std::uint64_t minimum) {
  test::RecordingProgress progress;
  DuplicatesRun run;
  run.report = find_duplicates(state.index, state.hash_cache, state.context(), minimum, progress);
  run.stages = progress.stage_reports();
  EXPECT_TRUE(progress.indexing_reports().empty());
  return run;
}

// Each group as the paths of its files (relative to root), in report order.
std::vector<std::vector<std::string>> group_paths(const DuplicateReport& report, const std::string& root) {
  std::vector<std::vector<std::string>> result;
  for (const DuplicateGroup& group : report.groups) {
    std::vector<std::string> paths;
    for (const Item& file : group.files) {
      std::string path = file.path;
      if (path.rfind(root + "/", 0) == 0) path.erase(0, root.size() + 1);
      paths.push_back(path);
    }
    result.push_back(paths);
  }
  return result;
}

// The report's own consistency: content hash per file, reclaimable, order.
void expect_consistent_report(const DuplicateReport& report) {
  std::uint64_t previous_reclaimable = UINT64_MAX;
  for (const DuplicateGroup& group : report.groups) {
    ASSERT_GE(group.files.size(), 2u);
    std::uint64_t reclaimable = 0;
    for (std::size_t i = 0; i < group.files.size(); ++i) {
      EXPECT_EQ(digest_hex(group.hash), test::b3sum_of(group.files[i].path));
      EXPECT_EQ(group.files[i].metadata.links, 1u);
      if (i > 0) {
        reclaimable += group.files[i].metadata.allocated;
        EXPECT_LE(group.files[i - 1].metadata.modified, group.files[i].metadata.modified);
      }
    }
    EXPECT_EQ(group.reclaimable, reclaimable);
    EXPECT_LE(group.reclaimable, previous_reclaimable) << "groups not largest first";
    previous_reclaimable = group.reclaimable;
  }
}

// Sampling then hashing, each starting at 0 and ending at its total.
void expect_stage_events(const DuplicatesRun& run, std::uint64_t sampling_total, std::uint64_t hashing_total) {
  std::vector<test::RecordedStage> stages[2];
  std::uint64_t last_elapsed = 0;
  for (const test::RecordedStage& stage : run.stages) {
    ASSERT_TRUE(stage.phase == "sampling" || stage.phase == "hashing") << stage.phase;
    if (stage.phase == "sampling") {
      ASSERT_TRUE(stages[1].empty()) << "sampling report after hashing began";
    }
    stages[stage.phase == "hashing"].push_back(stage);
    EXPECT_GE(stage.elapsed_ms, last_elapsed);
    last_elapsed = stage.elapsed_ms;
  }
  EXPECT_LE(last_elapsed, run.report.elapsed_ms);
  const std::uint64_t totals[2] = {sampling_total, hashing_total};
  for (int s = 0; s < 2; ++s) {
    SCOPED_TRACE(s == 0 ? "sampling" : "hashing");
    ASSERT_FALSE(stages[s].empty());
    EXPECT_EQ(stages[s].front().entries, 0u);
    EXPECT_EQ(stages[s].back().entries, totals[s]);
    std::uint64_t previous = 0;
    for (const auto& stage : stages[s]) {
      EXPECT_EQ(stage.total, totals[s]);
      EXPECT_GE(stage.entries, previous);
      previous = stage.entries;
    }
  }
}

// ---- a table of small trees

void write_old(const TempDir& dir, const std::string& path, const std::string& content, long long seconds = 1600000000) {
  test::set_mtime(dir.write_file(path, content), seconds);
}

struct TreeCase {
  const char* name;
  void (*build)(const TempDir& dir);
  void (*after_scan)(const TempDir& dir, test::HashingState& engine);  // may be null
  std::uint64_t minimum;
  std::vector<std::vector<std::string>> groups;
  std::uint64_t sampling_total;
  std::uint64_t hashing_total;
};

void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.name; }

const std::string kA = pseudo_random_bytes(3000, 1);
const std::string kB = pseudo_random_bytes(3000, 2);

std::string differing_at(std::string content, std::size_t offset) {
  content[offset] = static_cast<char>(content[offset] ^ 0x5A);
  return content;
}

const TreeCase kTrees[] = {
    {"equal_files_form_a_group",
     [](const TempDir& dir) {
       write_old(dir, "a", kA);
       write_old(dir, "sub/deeper/b", kA);
       write_old(dir, "c", kB);
       write_old(dir, "d", kA + "x");
     },
     nullptr, 1024, {{"a", "sub/deeper/b"}}, 3, 2},
    {"equal_size_but_different_content",
     [](const TempDir& dir) {
       write_old(dir, "a", kA);
       write_old(dir, "b", kB);
     },
     nullptr, 1024, {}, 2, 0},
    {"equal_samples_different_elsewhere_are_read_in_full_and_not_grouped",
     [](const TempDir& dir) {
       const std::string content = pseudo_random_bytes(100000, 3);
       write_old(dir, "a", content);
       write_old(dir, "b", differing_at(content, 20000));
     },
     nullptr, 1024, {}, 2, 2},
    {"equal_samples_and_heads_different_further_on_are_read_in_full_and_not_grouped",
     [](const TempDir& dir) {
       const std::string content = pseudo_random_bytes(300000, 3);
       write_old(dir, "a", content);
       write_old(dir, "b", differing_at(content, 100000));
     },
     nullptr, 1024, {}, 2, 2},
    {"hard_links_are_never_candidates",
     [](const TempDir& dir) {
       write_old(dir, "a", kA);
       ASSERT_EQ(::link((dir / "a").c_str(), (dir / "link_to_a").c_str()), 0);
       write_old(dir, "copy", kA);
     },
     nullptr, 1024, {}, 0, 0},
    {"empty_files_group_with_minimum_zero",
     [](const TempDir& dir) {
       write_old(dir, "e1", "");
       write_old(dir, "e2", "");
     },
     nullptr, 0, {{"e1", "e2"}}, 2, 2},
    {"default_minimum_is_inclusive_and_leaves_smaller_files_out",
     [](const TempDir& dir) {
       write_old(dir, "small1", kA.substr(0, 1023));
       write_old(dir, "small2", kA.substr(0, 1023));
       write_old(dir, "exact1", kA.substr(0, 1024));
       write_old(dir, "exact2", kA.substr(0, 1024));
     },
     nullptr, 1024, {{"exact1", "exact2"}}, 2, 2},
    {"copies_are_listed_oldest_first",
     [](const TempDir& dir) {
       write_old(dir, "t3", kA, 1600000003);
       write_old(dir, "t1", kA, 1600000001);
       write_old(dir, "t2", kA, 1600000002);
     },
     nullptr, 1024, {{"t1", "t2", "t3"}}, 3, 3},
    {"equal_times_are_ordered_by_path_bytes",
     [](const TempDir& dir) {
       for (const char* name : {"\xC3\xA9", "abc", "B", "ab"}) write_old(dir, name, kA);
     },
     nullptr, 1024, {{"B", "ab", "abc", "\xC3\xA9"}}, 4, 4},
    {"groups_are_ordered_by_reclaimable_bytes",
     [](const TempDir& dir) {
       const std::string medium = pseudo_random_bytes(100000, 4), large = pseudo_random_bytes(200000, 5),
                         small = pseudo_random_bytes(60000, 6);
       write_old(dir, "m1", medium);
       write_old(dir, "m2", medium);
       write_old(dir, "s1", small);
       write_old(dir, "s2", small);
       write_old(dir, "s3", small);
       write_old(dir, "l1", large);
       write_old(dir, "l2", large);
     },
     nullptr, 1024, {{"l1", "l2"}, {"s1", "s2", "s3"}, {"m1", "m2"}}, 7, 7},
    {"file_deleted_after_the_scan_drops_out",
     [](const TempDir& dir) {
       for (const char* name : {"p", "q", "r"}) write_old(dir, name, kA);
     },
     [](const TempDir& dir, test::HashingState&) { ::unlink((dir / "q").c_str()); }, 1024, {{"p", "r"}}, 3, 2},
    {"group_left_with_one_file_is_not_reported",
     [](const TempDir& dir) {
       for (const char* name : {"p", "q"}) write_old(dir, name, kA);
     },
     [](const TempDir& dir, test::HashingState&) { ::unlink((dir / "q").c_str()); }, 1024, {}, 2, 0},
    {"forgotten_file_is_never_a_candidate",
     [](const TempDir& dir) {
       for (const char* name : {"p", "q", "r"}) write_old(dir, name, kA);
     },
     [](const TempDir& dir, test::HashingState& engine) { engine.index.take_out(id_of(engine.index, dir / "q")); }, 1024,
     {{"p", "r"}}, 2, 2},
    {"file_replaced_by_a_link_drops_out",
     [](const TempDir& dir) {
       for (const char* name : {"p", "q", "r"}) write_old(dir, name, kA);
     },
     [](const TempDir& dir, test::HashingState&) {
       ::unlink((dir / "q").c_str());
       dir.make_symlink("q", dir / "p");
     },
     1024, {{"p", "r"}}, 3, 2},
    {"file_changed_after_the_scan_drops_out",
     [](const TempDir& dir) {
       for (const char* name : {"p", "q", "r"}) write_old(dir, name, kA);
     },
     [](const TempDir& dir, test::HashingState&) { write_old(dir, "r", kB); }, 1024, {{"p", "q"}}, 3, 2},
};

class DuplicateTrees : public ::testing::TestWithParam<TreeCase> {};

TEST_P(DuplicateTrees, ReportExactlyTheGroupsOfIdenticalSingleLinkFiles) {
  const TreeCase& c = GetParam();
  TempDir dir;
  c.build(dir);
  auto engine = engine_over(dir.path());
  if (c.after_scan) c.after_scan(dir, *engine);

  const DuplicatesRun run = run_duplicates(*engine, c.minimum);
  EXPECT_EQ(group_paths(run.report, dir.path()), c.groups);
  expect_consistent_report(run.report);
  expect_stage_events(run, c.sampling_total, c.hashing_total);
}

INSTANTIATE_TEST_SUITE_P(Trees, DuplicateTrees, ::testing::ValuesIn(kTrees),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(Duplicates, EmptyFilesFormAGroupThatReclaimsNothing) {
  TempDir dir;
  write_old(dir, "e1", "");
  write_old(dir, "e2", "");
  auto engine = engine_over(dir.path());
  const DuplicatesRun run = run_duplicates(*engine, 0);
  ASSERT_EQ(run.report.groups.size(), 1u);
  EXPECT_EQ(run.report.groups[0].reclaimable, 0u);
  EXPECT_EQ(digest_hex(run.report.groups[0].hash), blake3_hex(""));
}

TEST(Duplicates, GroupIdIsTheHashOfOneFileCheckedOnDisk) {
  TempDir dir;
  write_old(dir, "a", kA);
  write_old(dir, "b", kA);
  auto engine = engine_over(dir.path());
  const DuplicatesRun run = run_duplicates(*engine, 1024);
  ASSERT_EQ(run.report.groups.size(), 1u);
  auto hashed = test::hash_entry(*engine, id_of(engine->index, dir / "a"), HashMode::Full, true);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(digest_hex(run.report.groups[0].hash), *hashed);
}

TEST(Duplicates, RepeatedSearchOverAnUnchangedTreeOpensNoFile) {
  TempDir dir;
  for (int i = 0; i < 3; ++i) write_old(dir, "big" + std::to_string(i), pseudo_random_bytes(300000, 8));
  for (int i = 0; i < 2; ++i) write_old(dir, "sampled_only" + std::to_string(i), pseudo_random_bytes(5000, 20 + i));
  auto engine = engine_over(dir.path());
  test::RecordingOpener& opens = engine->files;

  const DuplicatesRun first = run_duplicates(*engine, 1024);
  EXPECT_EQ(opens.take().size(), 5u + 3u);  // every sample (with its head), then the three equal files in full
  const DuplicatesRun second = run_duplicates(*engine, 1024);
  EXPECT_TRUE(opens.take().empty());
  EXPECT_EQ(group_paths(second.report, dir.path()), group_paths(first.report, dir.path()));
  EXPECT_EQ(group_paths(second.report, dir.path()), (std::vector<std::vector<std::string>>{{"big0", "big1", "big2"}}));
  expect_stage_events(second, 5, 3);
}

TEST(Duplicates, FullReadsGoOnAfterTheHeadTheSampledReadTook) {
  TempDir dir;
  const std::string content = pseudo_random_bytes(300000, 9);
  for (const char* name : {"a", "b"}) write_old(dir, name, content);
  auto engine = engine_over(dir.path());
  std::map<std::string, std::uint64_t> read_in_full;
  std::mutex lock;
  engine->files.after_read = [&](const std::string& path, std::uint64_t total) {
    const std::lock_guard guard(lock);
    read_in_full[path.substr(path.rfind('/') + 1)] = total;
  };
  const DuplicatesRun run = run_duplicates(*engine, 1024);
  EXPECT_EQ(group_paths(run.report, dir.path()), (std::vector<std::vector<std::string>>{{"a", "b"}}));
  EXPECT_EQ(read_in_full, (std::map<std::string, std::uint64_t>{{"a", 300000 - kHeadSize}, {"b", 300000 - kHeadSize}}));
  EXPECT_EQ(engine->files.take().size(), 4u);  // one sampled read and one full read each
}

TEST(Duplicates, RepeatedSearchReadsRecentlyModifiedFilesAgain) {
  TempDir dir;
  write_old(dir, "old1", kA);
  write_old(dir, "old2", kA);
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const std::string young = dir.write_file("young", kA);
  // In the future: its age counts as 0 however slowly the test runs.
  test::set_mtime(young, std::chrono::duration_cast<std::chrono::seconds>(now).count() + 3600);
  auto engine = engine_over(dir.path());
  test::RecordingOpener& opens = engine->files;

  run_duplicates(*engine, 1024);
  opens.take();
  const DuplicatesRun second = run_duplicates(*engine, 1024);
  EXPECT_EQ(opens.take(), (std::vector<std::string>{young}));  // the samples read it whole
  EXPECT_EQ(group_paths(second.report, dir.path()), (std::vector<std::vector<std::string>>{{"old1", "old2", "young"}}));
}

TEST(Duplicates, ManyGroupsHashedInParallelComeOutComplete) {
  TempDir dir;
  constexpr int kGroups = 40;
  for (int g = 0; g < kGroups; ++g) {
    const std::string content = pseudo_random_bytes(2000 + 4096 * static_cast<std::size_t>(g), 100 + g);
    for (int copy = 0; copy < 3; ++copy) write_old(dir, "g" + std::to_string(g) + "/c" + std::to_string(copy), content);
    write_old(dir, "g" + std::to_string(g) + "/other", differing_at(content, 0));
  }
  auto engine = engine_over(dir.path());
  const int descriptors_before = test::open_descriptor_count();
  // More directories than the search holds open at once, hashed from two workers.
  const DuplicatesRun run = run_duplicates(*engine, 1024);
  EXPECT_EQ(test::open_descriptor_count(), descriptors_before) << "the search left a directory open";
  const auto groups = group_paths(run.report, dir.path());
  ASSERT_EQ(groups.size(), static_cast<std::size_t>(kGroups));
  // Each group a block larger than the one before: reclaimable order is the reverse of creation order.
  for (int g = 0; g < kGroups; ++g) {
    const std::string prefix = "g" + std::to_string(kGroups - 1 - g) + "/c";
    EXPECT_EQ(groups[static_cast<std::size_t>(g)],
              (std::vector<std::string>{prefix + "0", prefix + "1", prefix + "2"}));
  }
  expect_consistent_report(run.report);
  expect_stage_events(run, 4 * kGroups, 3 * kGroups);
}

}  // namespace
}  // namespace qm
