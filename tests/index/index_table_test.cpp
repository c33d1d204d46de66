// The entry table keeps the common entry in a few bits and the rare values
// (large link counts, siblings not added one after another, many devices,
// long names) beside it: every value reads back exactly as it was added.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "index/index.h"

namespace qm {
namespace {

EntryMetadata meta(bool directory, std::uint64_t links, std::uint64_t device = 7, std::uint64_t inode = 1) {
  EntryMetadata m;
  m.directory = directory;
  m.links = links;
  m.file = {device, inode};
  m.size = inode * 3;
  m.allocated = inode * 512;
  m.modified = 1'700'000'000'123'456'789ull + inode;
  return m;
}

std::vector<EntryId> children_of(const Index& index, EntryId parent) {
  std::vector<EntryId> out;
  for (EntryId child = index.first_child(parent); child != kNoEntry; child = index.next_sibling(child)) {
    out.push_back(child);
  }
  return out;
}

TEST(IndexTable, LinkCountsReadBackExactlyAcrossTheSmallCodeAndTheSideColumn) {
  const std::uint64_t counts[] = {0, 1, 2, 29, 30, 31, 32, 1000, UINT32_MAX, std::uint64_t{UINT32_MAX} + 5,
                                  UINT64_MAX};
  Index index;
  index.reset("/r", "analysis");
  index.add(kNoEntry, "/r", meta(true, 3));
  for (std::uint64_t links : counts) index.add(0, "f", meta(false, links));
  for (std::size_t i = 0; i < std::size(counts); ++i) {
    const EntryId id = static_cast<EntryId>(i + 1);
    EXPECT_EQ(index.links(id), counts[i]) << i;
    EXPECT_EQ(index.metadata(id).links, counts[i]) << i;
    EXPECT_EQ(index.single_link(id), counts[i] == 1) << i;
  }
}

TEST(IndexTable, ChildrenAddedInAnyOrderChainFromTheLastAddedToTheFirst) {
  // Children of two directories interleaved, as a caller other than the scan
  // may add them, then a run of consecutive ones.
  Index index;
  index.reset("/r", "analysis");
  index.add(kNoEntry, "/r", meta(true, 2));     // 0
  index.add(0, "a", meta(true, 2));             // 1
  index.add(0, "b", meta(true, 2));             // 2
  index.add(1, "a1", meta(false, 1));           // 3
  index.add(2, "b1", meta(false, 1));           // 4
  index.add(1, "a2", meta(false, 1));           // 5
  index.add(2, "b2", meta(false, 1));           // 6
  index.add(2, "b3", meta(false, 1));           // 7
  index.add(2, "b4", meta(false, 1));           // 8
  index.add(0, "c", meta(false, 1));            // 9
  EXPECT_EQ(children_of(index, 0), (std::vector<EntryId>{9, 2, 1}));
  EXPECT_EQ(children_of(index, 1), (std::vector<EntryId>{5, 3}));
  EXPECT_EQ(children_of(index, 2), (std::vector<EntryId>{8, 7, 6, 4}));
  EXPECT_TRUE(children_of(index, 3).empty());
  EXPECT_EQ(index.next_sibling(0), kNoEntry);
  EXPECT_EQ(index.entry_path(8), "/r/b/b4");
  EXPECT_EQ(index.parent(8), 2u);
}

TEST(IndexTable, EveryFieldReadsBackWithManyDevicesAndNamesOfEveryLength) {
  Index index;
  index.reset("/r", "analysis");
  index.add(kNoEntry, "/r", meta(true, 2, 1, 1));
  std::vector<std::string> names;
  // 70 devices: more than the table's slots, so some go to the overflow map.
  for (std::uint64_t i = 0; i < 200; ++i) {
    names.push_back(std::string(i == 199 ? 765 : i * 3 % 256, static_cast<char>('a' + i % 26)));
    index.add(0, names.back(), meta(i % 5 == 0, 1 + i % 3, 1000 + i % 70, 10 + i));
  }
  for (std::uint64_t i = 0; i < 200; ++i) {
    const EntryId id = static_cast<EntryId>(i + 1);
    const EntryMetadata want = meta(i % 5 == 0, 1 + i % 3, 1000 + i % 70, 10 + i);
    const EntryMetadata got = index.metadata(id);
    EXPECT_EQ(got.file, want.file) << i;
    EXPECT_EQ(got.size, want.size) << i;
    EXPECT_EQ(got.allocated, want.allocated) << i;
    EXPECT_EQ(got.modified, want.modified) << i;
    EXPECT_EQ(got.links, want.links) << i;
    EXPECT_EQ(got.directory, want.directory) << i;
    EXPECT_EQ(index.name(id), names[i]) << i;
  }
}

}  // namespace
}  // namespace qm
