#include "hashing/duplicate_groups.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

struct FakeFile {
  const char* name;
  std::uint64_t size;
  std::uint64_t links = 1;
  bool directory = false;
  std::uint64_t modified = 0;
};

// An index of the given objects, all directly below a root; ids follow the list (root is 0).
void fill(Index& index, const std::vector<FakeFile>& files) {
  index.reset("/root", "analysis");
  EntryMetadata root;
  root.directory = true;
  root.links = 2;
  index.add(kNoEntry, "/root", root);
  std::uint64_t inode = 100;
  for (const FakeFile& f : files) {
    EntryMetadata e;
    e.size = f.size;
    e.allocated = f.size == 0 ? 0 : (f.size + 4095) / 4096 * 4096;
    e.modified = f.modified;
    e.file = {1, inode++};
    e.links = f.links;
    e.directory = f.directory;
    index.add(0, f.name, e);
  }
}

const std::vector<FakeFile> kMixedFiles = {
    {"a10", 10},  {"b20", 20}, {"c10", 10},      {"dir10", 10, 2, true}, {"linked20", 20, 2},
    {"d20", 20},  {"e5", 5},   {"f5", 5},        {"removed30", 30},      {"g30", 30},
    {"h0", 0},    {"i0", 0},   {"lonely40", 40},
};

struct SizeCase {
  const char* name;
  std::uint64_t minimum;
  std::vector<EntryId> expected;
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class SizeCollisions : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SizeCollisions, KeepsSharedSizesOfEligibleFilesLargestFirstInIndexOrder) {
  Index index;
  fill(index, kMixedFiles);
  index.take_out(9);
  EXPECT_EQ(size_collisions(index, GetParam().minimum), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Minimums, SizeCollisions,
                         ::testing::Values(SizeCase{"default_like", 6, {2, 6, 1, 3}},
                                           SizeCase{"inclusive_bound", 5, {2, 6, 1, 3, 7, 8}},
                                           SizeCase{"zero_takes_empty_files", 0, {2, 6, 1, 3, 7, 8, 11, 12}},
                                           SizeCase{"above_everything", 41, {}}),
                         [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(SampleCollisions, GroupsBySizeAndSampledHashTogether) {
  Index index;
  fill(index, {{"a", 100}, {"b", 100}, {"c", 100}, {"d", 200}, {"e", 200}, {"f", 300}});
  // a and c share size and sample; d shares a's sample text but not its size.
  const std::vector<HashedEntry> sampled = {{"s1", 1}, {"s2", 2}, {"s1", 3}, {"s1", 4}, {"s3", 5}, {"s1", 6}};
  EXPECT_EQ(sample_collisions(index, sampled), (std::vector<EntryId>{1, 3}));
}

TEST(ContentGroups, DropsForgottenFilesAndGroupsLeftAlone) {
  Index index;
  fill(index, {{"a", 9000, 1, false, 30}, {"b", 9000, 1, false, 10}, {"c", 9000, 1, false, 20},
               {"d", 100}, {"e", 100}, {"f", 50}});
  index.take_out(5);
  const std::vector<HashedEntry> hashed = {{"H", 1}, {"X", 4}, {"H", 2}, {"X", 5}, {"H", 3}, {"Y", 6}};
  const auto groups = content_groups(index, hashed);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].hash, "H");
  std::vector<std::string> names;
  for (const auto& file : groups[0].files) names.push_back(file.name);
  EXPECT_EQ(names, (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(groups[0].reclaimable, 2u * 12288u);
}

TEST(OrderGroupMembers, OrdersByTimeThenByUnsignedPathBytesAndIsStable) {
  auto file = [](std::uint64_t modified, std::string path, EntryId id) {
    Item item;
    item.metadata.modified = modified;
    item.path = std::move(path);
    item.id = id;
    return item;
  };
  std::vector<Item> files = {file(2, "/a", 1),      file(1, "/z", 2), file(1, "/\xC3\xA9", 3),
                                      file(1, "/Z", 4),      file(1, "/z", 5), file(1, "/zz", 6),
                                      file(0, "/last", 7)};
  order_group_members(files);
  std::vector<EntryId> ids;
  for (const auto& item : files) ids.push_back(item.id);
  EXPECT_EQ(ids, (std::vector<EntryId>{7, 4, 2, 5, 6, 3, 1}));
}

}  // namespace
}  // namespace qm
