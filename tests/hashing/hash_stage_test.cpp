#include "hashing/hash_stage.h"

#include <gtest/gtest.h>

#include "hashing/blake3_hex.h"
#include "hashing/hash_entry.h"
#include "hashing_test_support.h"

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
  std::vector<EntryId> ids;
  std::vector<std::string> expected_hashes;
  for (int i = 23; i >= 0; --i) {
    ids.push_back(id_of(engine->index, dir / ("f" + std::to_string(i))));
    if (i != 5) expected_hashes.push_back(blake3_hex(contents[static_cast<std::size_t>(i)]));
    if (i == 12) ids.push_back(id_of(engine->index, dir / "sub"));
    if (i == 7) ids.push_back(engine->index.count() + 1);
  }

  test::CapturedStdout captured;
  const auto results = run_hash_stage(*engine, ids, HashMode::Full, 9, "hashing", std::chrono::steady_clock::now());
  const auto lines = captured.lines();

  std::vector<std::string> hashes;
  std::vector<EntryId> result_ids;
  for (const auto& r : results) {
    hashes.push_back(r.hash);
    result_ids.push_back(r.id);
  }
  EXPECT_EQ(hashes, expected_hashes);
  std::vector<EntryId> expected_ids;
  for (int i = 23; i >= 0; --i) {
    if (i != 5) expected_ids.push_back(id_of(engine->index, dir / ("f" + std::to_string(i))));
  }
  EXPECT_EQ(result_ids, expected_ids);

  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(test::flat_members(lines.front()).at("entries"), "0");
  const auto last = test::flat_members(lines.back());
  EXPECT_EQ(last.at("entries"), std::to_string(ids.size()));
  EXPECT_EQ(last.at("total"), std::to_string(ids.size()));
  EXPECT_EQ(last.at("phase"), "hashing");
  EXPECT_EQ(last.at("request"), "9");
}

TEST(HashStage, EmptyListWritesOnlyTheStartingEvent) {
  Engine engine;
  test::CapturedStdout captured;
  const auto results = run_hash_stage(engine, {}, HashMode::Sampled, 3, "sampling", std::chrono::steady_clock::now());
  EXPECT_TRUE(results.empty());
  const auto lines = captured.lines();
  ASSERT_EQ(lines.size(), 1u);
  const auto event = test::flat_members(lines[0]);
  EXPECT_EQ(event.at("entries"), "0");
  EXPECT_EQ(event.at("total"), "0");
  EXPECT_EQ(event.at("phase"), "sampling");
}

TEST(HashStage, ElapsedTimeCountsFromTheCommandStart) {
  Engine engine;
  const auto start = std::chrono::steady_clock::now() - std::chrono::seconds(5);
  test::CapturedStdout captured;
  run_hash_stage(engine, {}, HashMode::Sampled, 3, "sampling", start);
  const auto lines = captured.lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_GE(std::stoull(test::flat_members(lines[0]).at("elapsedMs")), 5000u);
}

}  // namespace
}  // namespace qm
