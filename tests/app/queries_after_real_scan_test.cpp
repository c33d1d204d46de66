// The queries over an index built by the real scan, with "forget" in between.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/commands.h"
#include "protocol/json_writer.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

JsonValue scan(Engine& engine, const std::string& root) {
  ScanRequest args;
  args.root = root;
  NoProgress quiet;
  auto summary = scan_command(engine, args, quiet);
  EXPECT_TRUE(summary) << summary.error();
  return summary ? std::move(summary).value() : JsonValue();
}

const JsonValue& member(const JsonValue& value, const char* key) { return *value.as_object().find(key); }

std::vector<std::string> item_names(const JsonValue& reply) {
  std::vector<std::string> names;
  for (const JsonValue& item : member(reply, "items").as_array()) names.emplace_back(member(item, "name").as_string());
  return names;
}

std::uint64_t id_named(const JsonValue& reply, const std::string& name) {
  for (const JsonValue& item : member(reply, "items").as_array()) {
    if (member(item, "name").as_string() == name) return member(item, "id").as_unsigned();
  }
  ADD_FAILURE() << "no item named " << name;
  return 0;
}

TEST(QueriesAfterARealScan, BrowseVerifyAndListTheScannedTree) {
  test::TempDir dir;
  dir.make_sparse_file("videos/holiday.MOV", 104857600);
  dir.make_sparse_file("videos/almost.mov", 104857599);
  dir.make_sparse_file("backup.tar.gz", 300000000);
  dir.write_file("notes.txt", "a few words");
  Engine engine;
  const JsonValue summary = scan(engine, dir.path());

  // The root's children, largest first; the root as parent, as the scan reported it.
  auto root = children_command(engine, 0, 0);
  ASSERT_TRUE(root) << root.error();
  EXPECT_EQ(item_names(*root), (std::vector<std::string>{"backup.tar.gz", "videos", "notes.txt"}));
  EXPECT_EQ(to_json(member(*root, "parent")), to_json(member(summary, "root")));
  EXPECT_TRUE(member(member(*root, "parent"), "parent").is_null());

  // "entry" agrees with what "children" showed.
  const std::uint64_t videos = id_named(*root, "videos");
  auto videos_entry = entry_command(engine, videos);
  ASSERT_TRUE(videos_entry) << videos_entry.error();
  EXPECT_EQ(to_json(*videos_entry), to_json(member(*root, "items").as_array()[1]));
  EXPECT_EQ(member(*videos_entry, "size").as_unsigned(), 209715199u);

  // "large" with its default minimum and a category table.
  LargeQuery large;
  large.categories = {{"archives", {"gz"}}, {"video", {"mov", "mp4"}}};
  auto listed = large_command(engine, large);
  ASSERT_TRUE(listed) << listed.error();
  EXPECT_EQ(item_names(*listed), (std::vector<std::string>{"backup.tar.gz", "holiday.MOV"}));
  EXPECT_EQ(to_json(member(*listed, "categories")), R"({"archives":1,"video":1})");
  EXPECT_EQ(member(*listed, "count").as_unsigned(), 2u);
}

TEST(QueriesAfterARealScan, AnEntryBelowANameThatIsNotTextIsVerifiedThroughItsRealName) {
  test::TempDir dir;
  dir.write_file("odd\xff/file", "12345");
  Engine engine;
  scan(engine, dir.path());
  auto root = children_command(engine, 0, 0);
  ASSERT_TRUE(root) << root.error();
  auto odd = children_command(engine, id_named(*root, "odd\xEF\xBF\xBD"), 0);
  ASSERT_TRUE(odd) << odd.error();
  auto file = entry_command(engine, id_named(*odd, "file"));
  ASSERT_TRUE(file) << file.error();
  EXPECT_EQ(member(*file, "path").as_string(), dir / "odd\xEF\xBF\xBD/file");
  EXPECT_EQ(member(*file, "size").as_unsigned(), 5u);
}

TEST(QueriesAfterARealScan, ForgottenItemsDisappearFromEveryQuery) {
  test::TempDir dir;
  dir.make_sparse_file("keep.bin", 200000000);
  dir.make_sparse_file("drop.bin", 300000000);
  Engine engine;
  scan(engine, dir.path());
  auto before = children_command(engine, 0, 0);
  ASSERT_TRUE(before) << before.error();
  const std::uint64_t drop = id_named(*before, "drop.bin");

  ASSERT_EQ(::unlink((dir / "drop.bin").c_str()), 0);
  auto forgotten = forget_command(engine, JsonArray{JsonValue(dir / "drop.bin")});
  ASSERT_TRUE(forgotten) << forgotten.error();

  auto after = children_command(engine, 0, 0);
  ASSERT_TRUE(after) << after.error();
  EXPECT_EQ(item_names(*after), std::vector<std::string>{"keep.bin"});
  for (auto reply : {entry_command(engine, drop), children_command(engine, drop, 0)}) {
    ASSERT_FALSE(reply);
    EXPECT_EQ(reply.error(), "Item was removed");
  }
  auto listed = large_command(engine, LargeQuery{});
  ASSERT_TRUE(listed) << listed.error();
  EXPECT_EQ(to_json(*listed).find("drop.bin"), std::string::npos);
  EXPECT_EQ(member(*listed, "count").as_unsigned(), 1u);
  EXPECT_EQ(to_json(member(*listed, "categories")), R"({"other":1})");
}

TEST(QueriesAfterARealScan, ANewScanReplacesWhatTheQueriesSee) {
  test::TempDir first;
  test::TempDir second;
  first.write_file("only-in-first", "1");
  second.write_file("only-in-second", "22");
  Engine engine;
  scan(engine, first.path());
  scan(engine, second.path());
  auto root = children_command(engine, 0, 0);
  ASSERT_TRUE(root) << root.error();
  EXPECT_EQ(item_names(*root), std::vector<std::string>{"only-in-second"});
  auto gone = entry_command(engine, 2);
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error(), "Unknown index entry");
}

}  // namespace
}  // namespace qm
