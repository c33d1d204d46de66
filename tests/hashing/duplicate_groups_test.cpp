#include "hashing/duplicate_groups.h"

#include <gtest/gtest.h>

#include "hashing/blake3_hex.h"

namespace qm {
namespace {

struct FakeFile {
  const char* name;
  std::uint64_t size;
  std::uint64_t links = 1;
  bool directory = false;
  std::uint64_t modified = 0;
};

// An index holding only its root, "/root" (id 0).
void start_index(Index& index) {
  index.reset("/root", "analysis");
  EntryMetadata root;
  root.directory = true;
  root.links = 2;
  index.add(kNoEntry, "/root", root);
}

// An index of the given objects, all directly below a root; ids follow the list (root is 0).
void fill(Index& index, const std::vector<FakeFile>& files) {
  start_index(index);
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

Digest d(std::string_view text) { return blake3_digest(text); }

TEST(SizeCollisions, OneObjectUnderSeveralNamesIsOneCandidate) {
  // Entries 1, 3 and 4 name one object (as a bind mount shows it twice); 2 is a copy.
  Index shared;
  start_index(shared);
  const char* names[] = {"a", "b", "a_again", "a_once_more", "x", "x_again"};
  const FileId ids[] = {{1, 100}, {1, 101}, {1, 100}, {1, 100}, {1, 104}, {1, 104}};
  const std::uint64_t sizes[] = {100, 100, 100, 100, 50, 50};
  for (std::size_t i = 0; i < 6; ++i) {
    EntryMetadata e;
    e.size = sizes[i];
    e.file = ids[i];
    e.links = 1;
    shared.add(0, names[i], e);
  }
  // The copy pairs with the first name of the object; the object alone in its size drops out.
  EXPECT_EQ(size_collisions(shared, 0), (std::vector<EntryId>{1, 2}));
}

TEST(SizeCollisions, ALongRunOfOneSizeKeepsTheFirstNameOfEachObject) {
  Index index;
  start_index(index);
  std::vector<EntryId> expected;
  for (std::uint64_t i = 0; i < 40; ++i) {
    EntryMetadata e;
    e.size = 1000;
    e.file = {1, 500 + i % 25};  // names 26..40 repeat the objects of 1..15
    e.links = 1;
    const EntryId id = index.add(0, "f" + std::to_string(i), e);
    if (i < 25) expected.push_back(id);
  }
  EXPECT_EQ(size_collisions(index, 0), expected);
}

std::vector<EntryId> ids_of(const std::vector<StageFile>& files) {
  std::vector<EntryId> ids;
  for (const StageFile& file : files) ids.push_back(file.id);
  return ids;
}

TEST(SampleCollisions, GroupsBySizeAndSampledHashTogether) {
  Index index;
  fill(index, {{"a", 100}, {"b", 100}, {"c", 100}, {"d", 200}, {"e", 200}, {"f", 300}});
  // a and c share size and sample; d shares a's sample but not its size.
  const std::vector<HashedEntry> sampled = {{d("s1"), 1, std::nullopt}, {d("s2"), 2, std::nullopt}, {d("s1"), 3, std::nullopt},
                                            {d("s1"), 4, std::nullopt}, {d("s3"), 5, std::nullopt}, {d("s1"), 6, std::nullopt}};
  EXPECT_EQ(ids_of(sample_collisions(index, sampled)), (std::vector<EntryId>{1, 3}));
}

TEST(SampleCollisions, CarriesTheContentHashesTheSamplesGave) {
  Index index;
  fill(index, {{"a", 100}, {"b", 100}, {"c", 100}});
  const std::vector<HashedEntry> sampled = {{d("s"), 1, d("content a")}, {d("s"), 2, std::nullopt}, {d("s"), 3, d("content c")}};
  const auto files = sample_collisions(index, sampled);
  ASSERT_EQ(ids_of(files), (std::vector<EntryId>{1, 2, 3}));
  EXPECT_EQ(files[0].known, d("content a"));
  EXPECT_FALSE(files[1].known.has_value());
  EXPECT_EQ(files[2].known, d("content c"));
}

TEST(ContentGroups, DropsForgottenFilesAndGroupsLeftAlone) {
  Index index;
  fill(index, {{"a", 9000, 1, false, 30}, {"b", 9000, 1, false, 10}, {"c", 9000, 1, false, 20},
               {"d", 100}, {"e", 100}, {"f", 50}});
  index.take_out(5);
  std::vector<HashedEntry> hashed;
  for (const auto& [text, id] : {std::pair{"H", 1}, {"X", 4}, {"H", 2}, {"X", 5}, {"H", 3}, {"Y", 6}}) {
    hashed.push_back({d(text), static_cast<EntryId>(id), std::nullopt});
  }
  const auto groups = content_groups(index, hashed);
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].hash, d("H"));
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
