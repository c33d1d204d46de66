// The hashing commands over an index made by the real scan rather than the test builder.
#include <gtest/gtest.h>

#include "hashing_test_support.h"
#include "protocol/commands.h"

namespace qm {
namespace {

using test::make_old;
using test::pseudo_random_bytes;
using test::TempDir;

JsonValue scanned(Engine& engine, const std::string& root, const std::string& mode) {
  ScanArgs args;
  args.root = root;
  args.mode = mode;
  args.minimum = 1;
  test::CapturedStdout quiet;  // any scan progress lines stay out of the test output
  auto summary = scan_command(engine, args, 1);
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
  Engine engine;
  scanned(engine, dir.path(), GetParam().mode);

  test::OpenRecorder opens;
  JsonValue first, second;
  {
    test::CapturedStdout events;
    auto reply = duplicates_command(engine, 1024, 2);
    ASSERT_TRUE(reply.ok()) << reply.error();
    first = std::move(reply).value();
  }
  EXPECT_EQ(opens.take().size(), 4u + 3u);
  {
    test::CapturedStdout events;
    auto reply = duplicates_command(engine, 1024, 3);
    ASSERT_TRUE(reply.ok()) << reply.error();
    second = std::move(reply).value();
  }
  EXPECT_TRUE(opens.take().empty());

  const auto& groups = second.as_object().find("groups")->as_array();
  ASSERT_EQ(groups.size(), 1u);
  std::vector<std::string> paths;
  for (const JsonValue& file : groups[0].as_object().find("files")->as_array()) {
    paths.push_back(file.as_object().find("path")->as_string());
  }
  EXPECT_EQ(paths, (std::vector<std::string>{dir / "one/copy", dir / "two/copy", dir / "two/deeper/copy"}));
  EXPECT_EQ(*first.as_object().find("groups"), *second.as_object().find("groups"));

  const auto first_id = groups[0].as_object().find("files")->as_array()[0].as_object().find("id")->as_unsigned();
  auto hashed = hash_command(engine, first_id);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
  EXPECT_EQ(*hashed->as_object().find("hash"), *groups[0].as_object().find("id"));
}

TEST(AfterRealScanWithNamesThatAreNotText, CopiesAreHashedThroughTheirRealNames) {
  TempDir dir;
  const std::string content = pseudo_random_bytes(70000, 33);
  for (const char* path : {"odd\xff/copy", "plain/copy\xfe"}) make_old(dir.write_file(path, content));
  Engine engine;
  scanned(engine, dir.path(), "duplicates");
  test::CapturedStdout events;
  auto reply = duplicates_command(engine, 1024, 2);
  ASSERT_TRUE(reply.ok()) << reply.error();
  const auto& groups = reply->as_object().find("groups")->as_array();
  ASSERT_EQ(groups.size(), 1u);
  std::vector<std::string> paths;
  for (const JsonValue& file : groups[0].as_object().find("files")->as_array()) {
    paths.push_back(file.as_object().find("path")->as_string());
  }
  EXPECT_EQ(paths, (std::vector<std::string>{dir / "odd\xEF\xBF\xBD/copy", dir / "plain/copy\xEF\xBF\xBD"}));
  const auto id = groups[0].as_object().find("files")->as_array()[0].as_object().find("id")->as_unsigned();
  auto hashed = hash_command(engine, id);
  ASSERT_TRUE(hashed.ok()) << hashed.error();
}

INSTANTIATE_TEST_SUITE_P(Modes, AfterRealScan, ::testing::Values(ScanModeCase{"analysis"}, ScanModeCase{"duplicates"}),
                         [](const auto& test_info) { return std::string(test_info.param.mode); });

}  // namespace
}  // namespace qm
