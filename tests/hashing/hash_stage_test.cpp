#include "hashing/hash_stage.h"

#include <gtest/gtest.h>

#include <map>

#include "hashing/blake3_hex.h"
#include "hashing/hash_entry.h"
#include "hashing/hashing_test_support.h"
#include "support/recording_progress.h"
#include "support/step_clock.h"

namespace qm {
namespace {

using test::id_of;
using test::TempDir;

// An in-memory index: the root (0), directories "a" (1) and "b" (2) below it,
// and then files alternating between them (ids 3, 4, ...: even ones in "b").
void fill_two_directories(Index& index, std::size_t files) {
  index.reset("/root", "analysis");
  EntryMetadata directory;
  directory.directory = true;
  index.add(kNoEntry, "/root", directory);
  index.add(0, "a", directory);
  index.add(0, "b", directory);
  for (std::size_t i = 0; i < files; ++i) {
    EntryMetadata file;
    file.size = 10;
    file.file = {1, 100 + i};
    index.add(i % 2 == 0 ? 1 : 2, "f" + std::to_string(i), file);
  }
}

// The runs as lists of file ids.
std::vector<std::vector<EntryId>> run_ids(const DirectoryRuns& runs, std::span<const StageFile> files) {
  std::vector<std::vector<EntryId>> ids;
  for (std::size_t r = 0; r < runs.starts.size(); ++r) {
    const std::size_t end = r + 1 < runs.starts.size() ? runs.starts[r + 1] : runs.positions.size();
    ids.emplace_back();
    for (std::size_t p = runs.starts[r]; p < end; ++p) ids.back().push_back(files[runs.positions[p]].id);
  }
  return ids;
}

TEST(DirectoryRuns, GroupFilesOfOneDirectoryInTheOrderGivenWhateverOrderTheyComeIn) {
  Index index;
  fill_two_directories(index, 6);  // "a" holds 3, 5, 7; "b" holds 4, 6, 8
  const std::vector<StageFile> files = {{8}, {3}, {4}, {7}, {index.count() + 5}, {5}, {6}};
  const std::vector<std::size_t> positions = {6, 0, 1, 2, 3, 4, 5};
  const DirectoryRuns runs = directory_runs(index, files, positions);
  EXPECT_EQ(run_ids(runs, files), (std::vector<std::vector<EntryId>>{{3, 7, 5}, {6, 8, 4}, {index.count() + 5}}));
}

TEST(DirectoryRuns, CutALargeDirectoryIntoRunsOfAtMostTheServedNumber) {
  Index index;
  fill_two_directories(index, 2 * kServedTogether + 7);
  std::vector<StageFile> files;
  std::vector<std::size_t> positions;
  for (EntryId id = 3; id < index.count(); id += 2) {  // every file of "a", in index order
    positions.push_back(files.size());
    files.emplace_back(id);
  }
  const auto ids = run_ids(directory_runs(index, files, positions), files);
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(ids[0].size(), kServedTogether);
  EXPECT_EQ(ids[1].size(), files.size() - kServedTogether);
  EXPECT_EQ(ids[1].back(), files.back().id);
  EXPECT_TRUE(run_ids(directory_runs(index, files, {}), files).empty());
}

TEST(HashStage, ReturnsTheHashedIdsInInputOrderAndDropsFailuresSilently) {
  TempDir dir;
  std::vector<std::string> contents;
  for (int i = 0; i < 24; ++i) {
    contents.push_back(test::pseudo_random_bytes(1000 + 37 * static_cast<std::size_t>(i), 50 + i));
    dir.write_file("f" + std::to_string(i), contents.back());
  }
  dir.make_dir("sub");
  auto engine = test::engine_over(dir.path());
  ::unlink((dir / "f5").c_str());

  // Files in reverse, with a directory, an unknown id and a deleted file among them.
  std::vector<StageFile> ids;
  std::vector<std::string> expected_hashes;
  for (int i = 23; i >= 0; --i) {
    ids.push_back({id_of(engine->index, dir / ("f" + std::to_string(i))), std::nullopt});
    if (i != 5) expected_hashes.push_back(blake3_hex(contents[static_cast<std::size_t>(i)]));
    if (i == 12) ids.push_back({id_of(engine->index, dir / "sub"), std::nullopt});
    if (i == 7) ids.push_back({engine->index.count() + 1, std::nullopt});
  }

  test::RecordingProgress progress;
  const auto results = run_hash_stage(engine->index, engine->hash_cache, engine->context(), ids, HashMode::Full,
                                      "hashing", system_clock().now(), progress);
  const auto reports = progress.stage_reports();

  std::vector<std::string> hashes;
  std::vector<EntryId> result_ids;
  for (const auto& r : results) {
    hashes.push_back(digest_hex(r.hash));
    result_ids.push_back(r.id);
  }
  EXPECT_EQ(hashes, expected_hashes);
  std::vector<EntryId> expected_ids;
  for (int i = 23; i >= 0; --i) {
    if (i != 5) expected_ids.push_back(id_of(engine->index, dir / ("f" + std::to_string(i))));
  }
  EXPECT_EQ(result_ids, expected_ids);

  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.front().entries, 0u);
  EXPECT_EQ(reports.back().entries, ids.size());
  std::uint64_t previous = 0;
  for (const auto& report : reports) {
    EXPECT_EQ(report.phase, "hashing");
    EXPECT_EQ(report.total, ids.size());
    EXPECT_GE(report.entries, previous);
    previous = report.entries;
  }
  EXPECT_TRUE(progress.indexing_reports().empty());
}

TEST(HashStage, AnEmptyListReportsOnlyTheStart) {
  test::HashingState state;
  test::RecordingProgress progress;
  const auto results = run_hash_stage(state.index, state.hash_cache, state.context(), {}, HashMode::Sampled,
                                      "sampling", system_clock().now(), progress);
  EXPECT_TRUE(results.empty());
  const auto reports = progress.stage_reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].entries, 0u);
  EXPECT_EQ(reports[0].total, 0u);
  EXPECT_EQ(reports[0].phase, "sampling");
}

TEST(HashStage, ElapsedTimeCountsFromTheCommandStart) {
  test::HashingState state;
  const test::StepClock clock(std::chrono::milliseconds(7));
  state.clock = &clock;
  const auto start = clock.now() - std::chrono::seconds(5);
  test::RecordingProgress progress;
  run_hash_stage(state.index, state.hash_cache, state.context(), {}, HashMode::Sampled, "sampling", start, progress);
  const auto reports = progress.stage_reports();
  ASSERT_EQ(reports.size(), 1u);
  // Five seconds before the stage began, plus a few steps of the test clock.
  EXPECT_GE(reports[0].elapsed_ms, 5007u);
  EXPECT_LT(reports[0].elapsed_ms, 5100u);
}

TEST(HashStage, ReportsAtMostOncePerSpacingWhileItRuns) {
  TempDir dir;
  for (int i = 0; i < 40; ++i) dir.write_file("f" + std::to_string(i), test::pseudo_random_bytes(100, 7 + i));
  auto engine = test::engine_over(dir.path());
  std::vector<StageFile> ids;
  for (int i = 0; i < 40; ++i) ids.push_back({id_of(engine->index, dir / ("f" + std::to_string(i))), std::nullopt});
  for (const auto step : {std::chrono::milliseconds(0), std::chrono::milliseconds(50)}) {
    const test::StepClock clock(step);
    engine->clock = &clock;
    test::RecordingProgress progress;
    run_hash_stage(engine->index, engine->hash_cache, engine->context(), ids, HashMode::Sampled, "sampling",
                   clock.now(), progress);
    const auto reports = progress.stage_reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.back().entries, 40u);
    // Between the first and the last, reports come kProgressSpacing apart at least.
    for (std::size_t i = 1; i + 1 < reports.size(); ++i) {
      EXPECT_GE(reports[i].elapsed_ms - reports[i - 1].elapsed_ms, 120u) << "step " << step.count() << " report " << i;
    }
    if (step.count() == 0) {
      EXPECT_EQ(reports.size(), 2u) << "time stood still: only the start and the end";
    }
  }
}

TEST(HashStage, FilesWithAKnownHashAreCountedButNotRead) {
  TempDir dir;
  const std::string content = test::pseudo_random_bytes(2000, 3);
  dir.write_file("read", content);
  dir.write_file("known", content);
  auto engine = test::engine_over(dir.path());
  const Digest claimed = blake3_digest("what an earlier read gave");
  const std::vector<StageFile> files = {{id_of(engine->index, dir / "known"), claimed},
                                        {id_of(engine->index, dir / "read"), std::nullopt}};
  test::RecordingProgress progress;
  const auto results = run_hash_stage(engine->index, engine->hash_cache, engine->context(), files, HashMode::Full,
                                      "hashing", system_clock().now(), progress);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].hash, claimed);
  EXPECT_EQ(digest_hex(results[1].hash), blake3_hex(content));
  EXPECT_EQ(engine->files.take(), (std::vector<std::string>{dir / "read"}));
  const auto reports = progress.stage_reports();
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.front().entries, 0u);
  EXPECT_EQ(reports.back().entries, 2u);
}

// ---- the content stage

struct ContentStageRun {
  std::vector<std::pair<std::string, std::string>> results;  // file name, content hash
  std::map<std::string, int> opens;                          // file name, times opened
  std::vector<test::RecordedStage> reports;
};

// Files by name with their group numbers, through run_content_stage.
ContentStageRun run_content(test::HashingState& state, const TempDir& dir,
                            const std::vector<std::pair<std::string, std::uint32_t>>& names) {
  std::vector<StageFile> files;
  for (const auto& [name, group] : names) files.push_back({id_of(state.index, dir / name), std::nullopt, group});
  test::RecordingProgress progress;
  const auto results = run_content_stage(state.index, state.hash_cache, state.context(), files, "hashing",
                                         system_clock().now(), progress);
  ContentStageRun run;
  for (const auto& r : results) run.results.push_back({std::string(state.index.name(r.id)), digest_hex(r.hash)});
  for (const std::string& path : state.files.take()) run.opens[path.substr(path.rfind('/') + 1)] += 1;
  run.reports = progress.stage_reports();
  return run;
}

std::string with_byte_changed(std::string content, std::size_t offset) {
  content[offset] = static_cast<char>(content[offset] ^ 0x33);
  return content;
}

TEST(ContentStage, ALargerFileWhoseHeadNoOtherFileOfItsGroupSharesIsNotReadFurther) {
  TempDir dir;
  const std::string content = test::pseudo_random_bytes(3 * kHeadSize + 500, 60);
  const std::string a = dir.write_file("a", content), b = dir.write_file("b", content);
  dir.write_file("early", with_byte_changed(content, 100));        // differs in its head
  dir.write_file("late", with_byte_changed(content, kHeadSize + 7));  // differs after it
  auto engine = test::engine_over(dir.path());
  const auto run = run_content(*engine, dir, {{"a", 0}, {"early", 0}, {"b", 0}, {"late", 0}});

  const std::string hash = blake3_hex(content);
  EXPECT_EQ(run.results, (std::vector<std::pair<std::string, std::string>>{
                             {"a", hash}, {"b", hash}, {"late", blake3_hex(with_byte_changed(content, kHeadSize + 7))}}));
  EXPECT_EQ(run.opens, (std::map<std::string, int>{{"a", 2}, {"b", 2}, {"early", 1}, {"late", 2}}));
  ASSERT_GE(run.reports.size(), 2u);
  EXPECT_EQ(run.reports.front().entries, 0u);
  EXPECT_EQ(run.reports.back().entries, 4u);
  EXPECT_EQ(run.reports.back().total, 4u);
}

TEST(ContentStage, EqualHeadsInDifferentGroupsAreNoMatch) {
  TempDir dir;
  const std::string content = test::pseudo_random_bytes(2 * kHeadSize, 61);
  dir.write_file("x", content);
  dir.write_file("y", with_byte_changed(content, kHeadSize + 1));
  auto engine = test::engine_over(dir.path());
  const auto run = run_content(*engine, dir, {{"x", 0}, {"y", 1}});
  EXPECT_TRUE(run.results.empty());
  EXPECT_EQ(run.opens, (std::map<std::string, int>{{"x", 1}, {"y", 1}}));
  EXPECT_EQ(run.reports.back().entries, 2u);
}

TEST(ContentStage, AFileNoLargerThanItsHeadIsReadOnce) {
  TempDir dir;
  const std::string content = test::pseudo_random_bytes(kHeadSize, 62);
  dir.write_file("p", content);
  dir.write_file("q", with_byte_changed(content, 5));
  auto engine = test::engine_over(dir.path());
  const auto run = run_content(*engine, dir, {{"p", 0}, {"q", 0}});
  EXPECT_EQ(run.results, (std::vector<std::pair<std::string, std::string>>{
                             {"p", blake3_hex(content)}, {"q", blake3_hex(with_byte_changed(content, 5))}}));
  EXPECT_EQ(run.opens, (std::map<std::string, int>{{"p", 1}, {"q", 1}}));
}

}  // namespace
}  // namespace qm
