#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/json_writer.h"
#include "query/entry_lookup.h"
#include "query/indexed_tree.h"

namespace qm {
namespace {

using test::IndexedTree;

const JsonArray& items_of(const JsonValue& reply) { return reply.as_object().find("items")->as_array(); }

std::vector<std::string> item_names(const JsonValue& reply) {
  std::vector<std::string> names;
  for (const JsonValue& item : items_of(reply)) names.push_back(item.as_object().find("name")->as_string());
  return names;
}

std::vector<EntryId> item_ids(const JsonValue& reply) {
  std::vector<EntryId> ids;
  for (const JsonValue& item : items_of(reply)) {
    ids.push_back(static_cast<EntryId>(item.as_object().find("id")->as_unsigned()));
  }
  return ids;
}

std::string object_of(const Index& index, EntryId id) { return to_json(entry_object(*lookup_entry(index, id))); }

TEST(ChildrenCommand, ListsDirectChildrenLargestFirstWithTheRequestedItemAsParent) {
  IndexedTree tree;
  tree.dir.write_file("small.txt", std::string(10, 's'));
  tree.dir.write_file("big.bin", std::string(300, 'b'));
  tree.dir.write_file("middle.log", std::string(50, 'm'));
  tree.dir.write_file("folder/one", std::string(120, '1'));
  tree.dir.write_file("folder/two", std::string(80, '2'));
  tree.index();
  Index& index = tree.engine.index;

  auto reply = children_command(tree.engine, 0, 0);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_EQ(item_names(*reply), (std::vector<std::string>{"big.bin", "folder", "middle.log", "small.txt"}));
  EXPECT_EQ(to_json(*reply->as_object().find("parent")), object_of(index, 0));
  EXPECT_EQ(to_json(items_of(*reply)[1]), object_of(index, tree.id_of("folder")));

  auto folder = children_command(tree.engine, tree.id_of("folder"), 0);
  ASSERT_TRUE(folder) << folder.error();
  EXPECT_EQ(item_names(*folder), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(to_json(*folder->as_object().find("parent")), object_of(index, tree.id_of("folder")));
}

TEST(ChildrenCommand, OfARegularFileHasNoItemsAndTheFileAsParent) {
  IndexedTree tree;
  tree.dir.write_file("lonely.txt", "alone");
  tree.index();
  const EntryId file = tree.id_of("lonely.txt");
  auto reply = children_command(tree.engine, file, 0);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_TRUE(items_of(*reply).empty());
  EXPECT_EQ(to_json(*reply->as_object().find("parent")), object_of(tree.engine.index, file));
}

struct ChildrenPageCase {
  std::uint64_t offset;
  std::size_t first;  // position of the page's first item in the whole order
  std::size_t length;
};

std::ostream& operator<<(std::ostream& out, const ChildrenPageCase& c) { return out << "offset " << c.offset; }

class ChildrenPaging : public ::testing::TestWithParam<ChildrenPageCase> {};

// 450 files in three sizes, so that most sizes are shared: equal sizes must keep
// the chain order (the later-indexed child first) within and across pages.
TEST_P(ChildrenPaging, PagesOf200KeepEqualSizesInChainOrder) {
  IndexedTree tree;
  for (int i = 0; i < 450; ++i) tree.dir.write_file("f" + std::to_string(i), std::string(i % 3, 'x'));
  tree.index();
  const Index& index = tree.engine.index;

  std::vector<EntryId> expected;
  for (EntryId id = 1; id < index.count(); ++id) expected.push_back(id);
  std::sort(expected.begin(), expected.end(), [&](EntryId a, EntryId b) {
    const auto size_a = index.entry(a).size;
    const auto size_b = index.entry(b).size;
    return size_a != size_b ? size_a > size_b : a > b;  // chain order: later ids first
  });

  auto reply = children_command(tree.engine, 0, GetParam().offset);
  ASSERT_TRUE(reply) << reply.error();
  const std::vector<EntryId> page(expected.begin() + static_cast<std::ptrdiff_t>(GetParam().first),
                                  expected.begin() + static_cast<std::ptrdiff_t>(GetParam().first + GetParam().length));
  EXPECT_EQ(item_ids(*reply), page);
}

INSTANTIATE_TEST_SUITE_P(Cases, ChildrenPaging,
                         ::testing::Values(ChildrenPageCase{0, 0, 200}, ChildrenPageCase{200, 200, 200},
                                           ChildrenPageCase{199, 199, 200}, ChildrenPageCase{400, 400, 50},
                                           ChildrenPageCase{449, 449, 1}, ChildrenPageCase{450, 0, 0},
                                           ChildrenPageCase{1000, 0, 0},
                                           ChildrenPageCase{UINT64_MAX, 0, 0}));

TEST(ChildrenCommand, ListsEqualSizesInChainOrder) {
  IndexedTree tree;
  for (const char* name : {"a", "b", "c", "d"}) tree.dir.write_file(name, "same");
  tree.index();
  const Index& index = tree.engine.index;
  std::vector<EntryId> chain;
  for (EntryId child = index.entry(0).first_child; child != kNoEntry; child = index.entry(child).next_sibling) {
    chain.push_back(child);
  }
  ASSERT_EQ(chain.size(), 4u);
  ASSERT_GT(chain.front(), chain.back());  // the chain starts with the latest child
  auto reply = children_command(tree.engine, 0, 0);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_EQ(item_ids(*reply), chain);
}

TEST(ChildrenCommand, LeavesOutRemovedChildrenAndRefusesRemovedOrUnknownItems) {
  IndexedTree tree;
  tree.dir.write_file("keep.txt", "keep");
  tree.dir.write_file("gone.txt", "gone!");
  tree.dir.write_file("gone-dir/inner.txt", "inner");
  tree.index();
  tree.engine.index.removed.insert(tree.id_of("gone.txt"));
  tree.engine.index.removed.insert(tree.id_of("gone-dir"));

  auto root = children_command(tree.engine, 0, 0);
  ASSERT_TRUE(root) << root.error();
  EXPECT_EQ(item_names(*root), std::vector<std::string>{"keep.txt"});

  struct Refusal {
    std::uint64_t id;
    const char* error;
  };
  for (const Refusal& refusal : {Refusal{tree.id_of("gone-dir"), "Item was removed"},
                                 Refusal{tree.id_of("gone.txt"), "Item was removed"},
                                 Refusal{tree.engine.index.count(), "Unknown index entry"},
                                 Refusal{std::uint64_t{1} << 40, "Unknown index entry"}}) {
    auto reply = children_command(tree.engine, refusal.id, 0);
    ASSERT_FALSE(reply) << refusal.id;
    EXPECT_EQ(reply.error(), refusal.error) << refusal.id;
  }
}

TEST(ChildrenCommand, RemovedChildrenTakeNoPlaceInAPage) {
  IndexedTree tree;
  for (int i = 0; i < 203; ++i) tree.dir.write_file("f" + std::to_string(i), std::string(1000 - i, 'x'));
  tree.index();
  // The three largest go, so the first page is made of the next 200.
  for (const char* name : {"f0", "f1", "f2"}) tree.engine.index.removed.insert(tree.id_of(name));

  auto first = children_command(tree.engine, 0, 0);
  ASSERT_TRUE(first) << first.error();
  ASSERT_EQ(items_of(*first).size(), 200u);
  EXPECT_EQ(item_names(*first).front(), "f3");
  EXPECT_EQ(item_names(*first).back(), "f202");
  auto second = children_command(tree.engine, 0, 200);
  ASSERT_TRUE(second) << second.error();
  EXPECT_TRUE(items_of(*second).empty());
}

TEST(ChildrenCommand, FailsAsUnknownBeforeAnyScan) {
  Engine engine;
  auto reply = children_command(engine, 0, 0);
  ASSERT_FALSE(reply);
  EXPECT_EQ(reply.error(), "Unknown index entry");
}

}  // namespace
}  // namespace qm
