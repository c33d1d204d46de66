#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "index/indexed_tree.h"
#include "query/children.h"

namespace qm {
namespace {

using test::IndexedTree;

const std::vector<Item>& items_of(const ChildrenPage& page) { return page.items; }

std::vector<std::string> item_names(const ChildrenPage& page) {
  std::vector<std::string> names;
  for (const Item& item : page.items) names.push_back(item.name);
  return names;
}

std::vector<EntryId> item_ids(const ChildrenPage& page) {
  std::vector<EntryId> ids;
  for (const Item& item : page.items) ids.push_back(item.id);
  return ids;
}

// An item as lookup_entry gives it, in a form that compares whole.
std::string described(const Item& item) {
  return std::to_string(item.id) + " " + std::to_string(item.parent) + " " + item.name + " " + item.path + " " +
         std::to_string(item.metadata.size) + " " + std::to_string(item.metadata.file.inode);
}
std::string described(const Index& index, EntryId id) { return described(*lookup_entry(index, id)); }

TEST(Children, ListsDirectChildrenLargestFirstWithTheRequestedItemAsParent) {
  IndexedTree tree;
  tree.dir.write_file("small.txt", std::string(10, 's'));
  tree.dir.write_file("big.bin", std::string(300, 'b'));
  tree.dir.write_file("middle.log", std::string(50, 'm'));
  tree.dir.write_file("folder/one", std::string(120, '1'));
  tree.dir.write_file("folder/two", std::string(80, '2'));
  tree.index();
  Index& index = tree.table;

  auto reply = list_children(tree.table, 0, 0);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_EQ(item_names(*reply), (std::vector<std::string>{"big.bin", "folder", "middle.log", "small.txt"}));
  EXPECT_EQ(described(reply->parent), described(index, 0));
  EXPECT_EQ(described(items_of(*reply)[1]), described(index, tree.id_of("folder")));

  auto folder = list_children(tree.table, tree.id_of("folder"), 0);
  ASSERT_TRUE(folder) << folder.error();
  EXPECT_EQ(item_names(*folder), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(described(folder->parent), described(index, tree.id_of("folder")));
}

TEST(Children, OfARegularFileHasNoItemsAndTheFileAsParent) {
  IndexedTree tree;
  tree.dir.write_file("lonely.txt", "alone");
  tree.index();
  const EntryId file = tree.id_of("lonely.txt");
  auto reply = list_children(tree.table, file, 0);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_TRUE(items_of(*reply).empty());
  EXPECT_EQ(described(reply->parent), described(tree.table, file));
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
  const Index& index = tree.table;

  std::vector<EntryId> expected;
  for (EntryId id = 1; id < index.count(); ++id) expected.push_back(id);
  std::sort(expected.begin(), expected.end(), [&](EntryId a, EntryId b) {
    const auto size_a = index.size(a);
    const auto size_b = index.size(b);
    return size_a != size_b ? size_a > size_b : a > b;  // chain order: later ids first
  });

  auto reply = list_children(tree.table, 0, GetParam().offset);
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

TEST(Children, ListsEqualSizesInChainOrder) {
  IndexedTree tree;
  for (const char* name : {"a", "b", "c", "d"}) tree.dir.write_file(name, "same");
  tree.index();
  const Index& index = tree.table;
  std::vector<EntryId> chain;
  for (EntryId child = index.first_child(0); child != kNoEntry; child = index.next_sibling(child)) {
    chain.push_back(child);
  }
  ASSERT_EQ(chain.size(), 4u);
  ASSERT_GT(chain.front(), chain.back());  // the chain starts with the latest child
  auto reply = list_children(tree.table, 0, 0);
  ASSERT_TRUE(reply) << reply.error();
  EXPECT_EQ(item_ids(*reply), chain);
}

TEST(Children, LeavesOutRemovedChildrenAndRefusesRemovedOrUnknownItems) {
  IndexedTree tree;
  tree.dir.write_file("keep.txt", "keep");
  tree.dir.write_file("gone.txt", "gone!");
  tree.dir.write_file("gone-dir/inner.txt", "inner");
  tree.index();
  tree.table.take_out(tree.id_of("gone.txt"));
  tree.table.take_out(tree.id_of("gone-dir"));

  auto root = list_children(tree.table, 0, 0);
  ASSERT_TRUE(root) << root.error();
  EXPECT_EQ(item_names(*root), std::vector<std::string>{"keep.txt"});

  struct Refusal {
    std::uint64_t id;
    const char* error;
  };
  for (const Refusal& refusal : {Refusal{tree.id_of("gone-dir"), "Item was removed"},
                                 Refusal{tree.id_of("gone.txt"), "Item was removed"},
                                 Refusal{tree.table.count(), "Unknown index entry"},
                                 Refusal{std::uint64_t{1} << 40, "Unknown index entry"}}) {
    auto reply = list_children(tree.table, refusal.id, 0);
    ASSERT_FALSE(reply) << refusal.id;
    EXPECT_EQ(reply.error(), refusal.error) << refusal.id;
  }
}

TEST(Children, RemovedChildrenTakeNoPlaceInAPage) {
  IndexedTree tree;
  for (int i = 0; i < 203; ++i) tree.dir.write_file("f" + std::to_string(i), std::string(1000 - i, 'x'));
  tree.index();
  // The three largest go, so the first page is made of the next 200.
  for (const char* name : {"f0", "f1", "f2"}) tree.table.take_out(tree.id_of(name));

  auto first = list_children(tree.table, 0, 0);
  ASSERT_TRUE(first) << first.error();
  ASSERT_EQ(items_of(*first).size(), 200u);
  EXPECT_EQ(item_names(*first).front(), "f3");
  EXPECT_EQ(item_names(*first).back(), "f202");
  auto second = list_children(tree.table, 0, 200);
  ASSERT_TRUE(second) << second.error();
  EXPECT_TRUE(items_of(*second).empty());
}

}  // namespace
}  // namespace qm
