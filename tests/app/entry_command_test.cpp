#include <gtest/gtest.h>

#include <string>

#include "protocol/commands.h"
#include "protocol/json_writer.h"
#include "query/entry_lookup.h"
#include "query/indexed_tree.h"

namespace qm {
namespace {

using test::IndexedTree;

TEST(EntryCommand, ShowsTheIndexedTotalsOfADirectoryThatGainedFiles) {
  IndexedTree tree;
  tree.dir.write_file("music/song.mp3", std::string(700, 'm'));
  tree.index();
  const EntryId music = tree.id_of("music");
  tree.dir.write_file("music/new.mp3", std::string(900, 'n'));

  auto reply = entry_command(tree.engine, music);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_EQ(to_json(*reply), to_json(entry_object(*lookup_entry(tree.engine.index, music))));
  EXPECT_EQ(reply->as_object().find("size")->as_unsigned(), 700u);
}

TEST(EntryCommand, DescribesTheRootWithNullParentAndTheRootPath) {
  IndexedTree tree;
  tree.dir.write_file("a", "a");
  tree.index();
  auto reply = entry_command(tree.engine, 0);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_TRUE(reply->as_object().find("parent")->is_null());
  EXPECT_EQ(reply->as_object().find("path")->as_string(), tree.dir.path());
}

TEST(EntryCommand, RepliesWithTheRevalidationError) {
  IndexedTree tree;
  tree.dir.write_file("doc.txt", "first");
  tree.dir.write_file("gone.txt", "gone");
  tree.index();
  test::set_mtime(tree.dir / "doc.txt", 1000, 0);
  tree.engine.index.removed.insert(tree.id_of("gone.txt"));

  struct Case {
    std::uint64_t id;
    const char* error;
  };
  for (const Case& c : {Case{tree.id_of("doc.txt"), "Item changed since scan; scan again"},
                        Case{tree.id_of("gone.txt"), "Item was removed"}, Case{99, "Unknown index entry"}}) {
    auto reply = entry_command(tree.engine, c.id);
    ASSERT_FALSE(reply) << c.id;
    EXPECT_EQ(reply.error(), c.error);
  }
  Engine unscanned;
  auto before_scan = entry_command(unscanned, 0);
  ASSERT_FALSE(before_scan);
  EXPECT_EQ(before_scan.error(), "Unknown index entry");
}

}  // namespace
}  // namespace qm
