// The hashing commands over an index made by the real scan rather than the test builder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "app/app_test_support.h"
#include "app/commands.h"
#include "hashing/hashing_test_support.h"

namespace qm {
namespace {

using test::make_old;
using test::materialized;
using test::pseudo_random_bytes;
using test::TempDir;

NoProgress g_quiet;

// An engine that opens files through a recorder, running a minute after the
// test wrote its files (so that their hashes may be cached).
struct RecordedEngine {
  RecordedEngine() : engine(seams()) {}
  Seams seams() {
    Seams chosen;
    chosen.files = &files;
    chosen.clock = &test::minute_later_clock();
    return chosen;
  }
  test::RecordingOpener files;
  Engine engine;
};

JsonValue scanned(Engine& engine, const std::string& root, const std::string& mode) {
  ScanRequest args;
  args.root = root;
  args.mode = mode;
  args.minimum = 1;
  auto summary = scan_command(engine, args, g_quiet);
  EXPECT_TRUE(summary.ok()) << summary.error();
  return summary.ok() ? std::move(summary).value() : JsonValue();
}

struct ScanModeCase {
  const char* mode;
};

void PrintTo(const ScanModeCase& c, std::ostream* os) { *os << c.mode; }

class AfterRealScan : public ::testing::TestWithParam<ScanModeCase> {};

TEST_P(AfterRealScan, DuplicatesFindsTheCopiesAndTheSecondSearchReadsNothing) {
  TempDir dir;
  const std::string content = pseudo_random_bytes(70000, 31);
  for (const char* path : {"one/copy", "two/copy", "two/deeper/copy"}) make_old(dir.write_file(path, content));
  make_old(dir.write_file("one/different", pseudo_random_bytes(70000, 32)));
  make_old(dir.write_file("linked", content));
  ASSERT_EQ(::link((dir / "linked").c_str(), (dir / "link").c_str()), 0);
  RecordedEngine recorded;
  Engine& engine = recorded.engine;
  scanned(engine, dir.path(), GetParam().mode);

  JsonValue first, second;
  {
    auto reply = duplicates_command(engine, 1024, g_quiet);
    ASSERT_TRUE(reply.ok()) << reply.error();
    first = materialized(*reply);
  }
  EXPECT_EQ(recorded.files.take().size(), 4u + 3u);  // samples (with their heads), then the equal ones in full
  {
    auto reply = duplicates_command(engine, 1024, g_quiet);
    ASSERT_TRUE(reply.ok()) << reply.error();
    second = materialized(*reply);
  }
  EXPECT_TRUE(recorded.files.take().empty());

  const auto& groups = second.as_object().find("groups")->as_array();
  ASSERT_EQ(groups.size(), 1u);
  std::vector<std::string> paths;
  for (const JsonValue& file : groups[0].as_object().find("files")->as_array()) {
    paths.emplace_back(file.as_object().find("path")->as_string());
  }
  EXPECT_EQ(paths, (std::vector<std::string>{dir / "one/copy", dir / "two/copy", dir / "two/deeper/copy"}));
  EXPECT_EQ(*first.as_object().find("groups"), *second.as_object().find("groups"));

  const auto first_id = groups[0].as_object().find("files")->as_array()[0].as_object().find("id")->as_unsigned();
  auto hashed = hash_command(engine, first_id);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(*hashed->as_object().find("hash"), *groups[0].as_object().find("id"));
}

// Each group of a duplicates reply as its file paths.
std::vector<std::vector<std::string>> group_paths(const JsonValue& streamed) {
  const JsonValue reply = materialized(streamed);
  std::vector<std::vector<std::string>> groups;
  for (const JsonValue& group : reply.as_object().find("groups")->as_array()) {
    groups.emplace_back();
    for (const JsonValue& file : group.as_object().find("files")->as_array()) {
      groups.back().emplace_back(file.as_object().find("path")->as_string());
    }
  }
  return groups;
}

// Identical old files A and B are grouped; then 17 bytes in the middle of B
// change, its size kept and its modification time put back (touch -r, cp -p
// and rsync -t do that). The cached hashes of B must not be served again,
// whether the tree was scanned again or not.
TEST(AfterRealScan, AChangedFileWithItsModificationTimePutBackIsNotGroupedFromTheCache) {
  for (const bool rescan : {true, false}) {
    SCOPED_TRACE(rescan ? "after a rescan" : "without a rescan");
    TempDir dir;
    const std::string content = pseudo_random_bytes(200000, 41);
    const std::string a = dir.write_file("A", content), b = dir.write_file("B", content);
    make_old(a);
    make_old(b);
    RecordedEngine recorded;
    Engine& engine = recorded.engine;
    scanned(engine, dir.path(), "analysis");
    auto before = duplicates_command(engine, 1024, g_quiet);
    ASSERT_TRUE(before.ok()) << before.error();
    ASSERT_EQ(group_paths(*before), (std::vector<std::vector<std::string>>{{a, b}}));

    const int fd = ::open(b.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "17 changed bytes!", 17, 100000), 17);
    ::close(fd);
    make_old(b);
    if (rescan) scanned(engine, dir.path(), "analysis");

    auto after = duplicates_command(engine, 1024, g_quiet);
    ASSERT_TRUE(after.ok()) << after.error();
    EXPECT_TRUE(group_paths(*after).empty());
    JsonValue hashes[2];
    for (int i = 0; i < 2; ++i) {
      const std::uint64_t id = i == 0 ? 1 : 2;
      auto hashed = hash_command(engine, id);
      ASSERT_TRUE(hashed.ok()) << hashed.error();
      hashes[i] = *hashed->as_object().find("hash");
    }
    EXPECT_NE(hashes[0], hashes[1]);
  }
}

TEST(AfterRealScanWithNamesThatAreNotText, CopiesAreHashedThroughTheirRealNames) {
  TempDir dir;
  const std::string content = pseudo_random_bytes(70000, 33);
  for (const char* path : {"odd\xff/copy", "plain/copy\xfe"}) make_old(dir.write_file(path, content));
  RecordedEngine recorded;
  Engine& engine = recorded.engine;
  scanned(engine, dir.path(), "duplicates");
  auto reply = duplicates_command(engine, 1024, g_quiet);
  ASSERT_TRUE(reply.ok()) << reply.error();
  const JsonValue result = materialized(*reply);
  const auto& groups = result.as_object().find("groups")->as_array();
  ASSERT_EQ(groups.size(), 1u);
  std::vector<std::string> paths;
  for (const JsonValue& file : groups[0].as_object().find("files")->as_array()) {
    paths.emplace_back(file.as_object().find("path")->as_string());
  }
  EXPECT_EQ(paths, (std::vector<std::string>{dir / "odd\xEF\xBF\xBD/copy", dir / "plain/copy\xEF\xBF\xBD"}));
  const auto id = groups[0].as_object().find("files")->as_array()[0].as_object().find("id")->as_unsigned();
  auto hashed = hash_command(engine, id);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  // Both copies were opened by their real names, the bytes on disk.
  std::vector<std::string> opened = recorded.files.take();
  std::sort(opened.begin(), opened.end());
  opened.erase(std::unique(opened.begin(), opened.end()), opened.end());
  EXPECT_EQ(opened, (std::vector<std::string>{dir / "odd\xff/copy", dir / "plain/copy\xfe"}));
}

INSTANTIATE_TEST_SUITE_P(Modes, AfterRealScan, ::testing::Values(ScanModeCase{"analysis"}, ScanModeCase{"duplicates"}),
                         [](const auto& test_info) { return std::string(test_info.param.mode); });

}  // namespace
}  // namespace qm
