#include <gtest/gtest.h>

#include <string>

#include "app/app_test_support.h"
#include "app/entry_json.h"

namespace qm {
namespace {

using IndexedTree = test::IndexedEngine;

TEST(EntryObject, HasExactlyTheTenMembersWithIdentityAsDecimalsAndNullParentForTheRoot) {
  Item file;
  file.parent = 7;
  file.id = 42;
  file.name = "a \"quoted\" name";
  file.path = "/x/a \"quoted\" name";
  file.metadata.file = {UINT64_MAX, 12};
  file.metadata.size = 10;
  file.metadata.allocated = 4096;
  file.metadata.modified = 1700000000000000001;
  file.metadata.links = 3;
  EXPECT_EQ(to_json(entry_object(file)),
            R"({"allocated":4096,"directory":false,"id":42,"identity":"18446744073709551615:12","links":3,)"
            R"("modified":1700000000000000001,"name":"a \"quoted\" name","parent":7,"path":"/x/a \"quoted\" name",)"
            R"("size":10})");

  Item root;
  root.id = 0;
  root.name = "/";
  root.path = "/";
  root.metadata.file = {1, 2};
  root.metadata.directory = true;
  EXPECT_EQ(to_json(entry_objects({root})),
            R"([{"allocated":0,"directory":true,"id":0,"identity":"1:2","links":0,"modified":0,"name":"/",)"
            R"("parent":null,"path":"/","size":0}])");
}

TEST(IdentityText, PrintsBothNumbersUnsigned) {
  EXPECT_EQ(identity_text({0, 0}), "0:0");
  EXPECT_EQ(identity_text({2049, 131}), "2049:131");
  EXPECT_EQ(identity_text({UINT64_MAX, UINT64_MAX}), "18446744073709551615:18446744073709551615");
}

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
  tree.engine.index.take_out(tree.id_of("gone.txt"));

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
}

}  // namespace
}  // namespace qm
