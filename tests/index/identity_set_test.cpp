#include "index/identity_set.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>

namespace qm {
namespace {

TEST(IdentitySet, InsertReportsWhetherThePairWasNew) {
  IdentitySet set;
  EXPECT_FALSE(set.contains({1, 2}));
  EXPECT_TRUE(set.insert({1, 2}));
  EXPECT_FALSE(set.insert({1, 2}));
  EXPECT_TRUE(set.insert({2, 1}));  // device and inode are not interchangeable
  EXPECT_TRUE(set.insert({1, 3}));
  EXPECT_TRUE(set.contains({2, 1}));
  EXPECT_FALSE(set.contains({3, 1}));
  EXPECT_EQ(set.size(), 3u);
}

TEST(IdentitySet, KeepsThePairThatDoublesAsTheFreeMarker) {
  IdentitySet set;
  EXPECT_FALSE(set.contains({UINT64_MAX, UINT64_MAX}));
  EXPECT_TRUE(set.insert({UINT64_MAX, UINT64_MAX}));
  EXPECT_FALSE(set.insert({UINT64_MAX, UINT64_MAX}));
  EXPECT_TRUE(set.contains({UINT64_MAX, UINT64_MAX}));
  EXPECT_TRUE(set.insert({UINT64_MAX, 0}));
  EXPECT_TRUE(set.insert({0, UINT64_MAX}));
  EXPECT_EQ(set.size(), 3u);
}

TEST(IdentitySet, AgreesWithAnOrderedSetAcrossManyGrowths) {
  IdentitySet set;
  std::set<std::pair<std::uint64_t, std::uint64_t>> reference;
  std::mt19937_64 random(7);
  for (int i = 0; i < 200000; ++i) {
    // Few devices and clustered inodes, as on a real disk, plus some extremes.
    const std::uint64_t device = random() % 3 == 0 ? UINT64_MAX - random() % 2 : random() % 4;
    const std::uint64_t inode = random() % 5 == 0 ? random() : random() % 50000;
    const bool fresh = reference.insert({device, inode}).second;
    ASSERT_EQ(set.insert({device, inode}), fresh) << device << ":" << inode;
  }
  EXPECT_EQ(set.size(), reference.size());
  for (const auto& [device, inode] : reference) ASSERT_TRUE(set.contains({device, inode}));
  for (int i = 0; i < 1000; ++i) {
    const std::uint64_t device = 10 + random() % 1000;  // never inserted
    ASSERT_FALSE(set.contains({device, random()}));
  }
}

}  // namespace
}  // namespace qm
