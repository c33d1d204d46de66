#include "hashing/hash_cache.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

HashCacheKey key_number(std::uint64_t n) { return HashCacheKey{1, n, 4096, 1600000000000000000ull, HashMode::Full}; }

TEST(HashCache, KeysDifferingInAnyFieldAreSeparateEntries) {
  HashCache cache;
  const HashCacheKey base{7, 8, 9, 10, HashMode::Full};
  cache.insert(base, "base");
  const HashCacheKey variants[] = {
      {70, 8, 9, 10, HashMode::Full}, {7, 80, 9, 10, HashMode::Full},  {7, 8, 90, 10, HashMode::Full},
      {7, 8, 9, 100, HashMode::Full}, {7, 8, 9, 10, HashMode::Sampled},
  };
  for (const auto& variant : variants) EXPECT_FALSE(cache.lookup(variant).has_value());
  EXPECT_EQ(cache.lookup(base), "base");
  EXPECT_EQ(cache.lookup(HashCacheKey{7, 8, 9, 10, HashMode::Full}), "base");
}

TEST(HashCache, InsertingAnExistingKeyReplacesItsText) {
  HashCache cache;
  cache.insert(key_number(1), "old");
  cache.insert(key_number(1), "new");
  EXPECT_EQ(cache.lookup(key_number(1)), "new");
  EXPECT_EQ(cache.size(), 1u);
}

struct CapacityCase {
  const char* name;
  std::uint64_t prefilled;
  bool insert_existing_key;
  std::size_t size_after;
};

void PrintTo(const CapacityCase& c, std::ostream* os) { *os << c.name; }

class HashCacheCapacity : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(HashCacheCapacity, InsertionEmptiesTheMapOnlyWhenItAlreadyHoldsTheCapacity) {
  const CapacityCase& c = GetParam();
  HashCache cache;
  for (std::uint64_t n = 0; n < c.prefilled; ++n) cache.insert(key_number(n), "h");
  ASSERT_EQ(cache.size(), c.prefilled);

  const HashCacheKey inserted = c.insert_existing_key ? key_number(0) : key_number(c.prefilled);
  cache.insert(inserted, "latest");
  EXPECT_EQ(cache.size(), c.size_after);
  EXPECT_EQ(cache.lookup(inserted), "latest");
  // Another key survives only when nothing was emptied.
  EXPECT_EQ(cache.lookup(key_number(1)).has_value(), c.size_after > 1);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HashCacheCapacity,
    ::testing::Values(CapacityCase{"one_below_capacity_grows", HashCache::kCapacity - 1, false, HashCache::kCapacity},
                      CapacityCase{"at_capacity_new_key_empties", HashCache::kCapacity, false, 1},
                      CapacityCase{"at_capacity_existing_key_empties", HashCache::kCapacity, true, 1}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

}  // namespace
}  // namespace qm
