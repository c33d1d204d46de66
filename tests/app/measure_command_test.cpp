#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/app_test_support.h"

namespace qm {
namespace {

using test::allocated_on_disk;
using test::materialized;
using test::member;
using test::number;
using test::TempDir;

class MeasureCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.write_file("file.txt", "0123456789");
    tree_.make_dir("empty");
    tree_.write_file("mixed/a", std::string(5000, 'a'));
    tree_.write_file("mixed/.hidden/b", std::string(9000, 'b'));
    tree_.make_symlink("mixed/link", tree_ / "file.txt");
    tree_.make_symlink("link-to-dir", tree_ / "mixed");
  }

  std::uint64_t allocated(const char* relative) const { return allocated_on_disk(tree_ / relative); }

  TempDir tree_;
  Engine engine_;
};

TEST_F(MeasureCommand, MeasuresEachElementInRequestOrder) {
  struct Case {
    JsonValue element;
    std::string path;
    std::uint64_t size;
    std::uint64_t errors;
  };
  const std::vector<Case> cases{
      {JsonValue(tree_ / "file.txt"), tree_ / "file.txt", allocated("file.txt"), 0},
      {JsonValue(tree_ / "empty"), tree_ / "empty", 0, 0},
      // Hidden directories are entered; the link inside is one error.
      {JsonValue(tree_ / "mixed/"), tree_ / "mixed/", allocated("mixed/a") + allocated("mixed/.hidden/b"), 1},
      {JsonValue(tree_ / "link-to-dir"), tree_ / "link-to-dir", 0, 1},
      {JsonValue(tree_ / "missing"), tree_ / "missing", 0, 1},
      {JsonValue(42), "", 0, 1},
      {JsonValue(nullptr), "", 0, 1},
      {JsonValue("relative/nothing"), "relative/nothing", 0, 1},
      {JsonValue(tree_ / "file.txt"), tree_ / "file.txt", allocated("file.txt"), 0},  // again, again reported
  };
  ASSERT_GT(allocated("file.txt"), 0u);
  JsonArray paths;
  for (const Case& c : cases) paths.push_back(c.element);
  const CommandResult result = measure_command(engine_, paths);
  ASSERT_TRUE(result.ok());
  const JsonValue reply = materialized(*result);
  ASSERT_TRUE(reply.is_array());
  const JsonArray& items = reply.as_array();
  ASSERT_EQ(items.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("element " + std::to_string(i) + ": " + to_json(cases[i].element));
    ASSERT_TRUE(items[i].is_object());
    EXPECT_EQ(items[i].as_object().size(), 3u);
    EXPECT_EQ(member(items[i], "path"), JsonValue(cases[i].path));
    EXPECT_EQ(number(items[i], "size"), cases[i].size);
    EXPECT_EQ(number(items[i], "errors"), cases[i].errors);
  }
}

TEST_F(MeasureCommand, AnEmptyListGivesAnEmptyArray) {
  const JsonArray none;
  const CommandResult result = measure_command(engine_, none);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(to_json(*result), "[]");
}

TEST_F(MeasureCommand, ReachesAsFarAsADeepTreeGoes) {
  std::string relative = "deep";
  for (int level = 0; level < 60; ++level) relative += "/level" + std::to_string(level);
  tree_.write_file(relative + "/bottom", std::string(4097, 'z'));
  const JsonArray paths{JsonValue(tree_ / "deep")};
  const CommandResult result = measure_command(engine_, paths);
  ASSERT_TRUE(result.ok());
  const JsonValue reply = materialized(*result);
  EXPECT_EQ(number(reply.as_array()[0], "size"), allocated_on_disk(tree_ / (relative + "/bottom")));
  EXPECT_EQ(number(reply.as_array()[0], "errors"), 0u);
}

}  // namespace
}  // namespace qm
