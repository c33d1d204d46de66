#include "hashing/hash_stage.h"

#include <gtest/gtest.h>

#include "hashing/blake3_hex.h"
#include "hashing/hash_entry.h"
#include "hashing/hashing_test_support.h"
#include "support/recording_progress.h"
#include "support/step_clock.h"

namespace qm {
namespace {

using test::id_of;
using test::TempDir;

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

}  // namespace
}  // namespace qm
