#include "hashing/hash_cache.h"

#include <gtest/gtest.h>

#include <optional>

#include "hashing/blake3_hex.h"

namespace qm {
namespace {

HashCacheKey key_number(std::uint64_t n) {
  return HashCacheKey{1, n, 4096, 1600000000000000000ull, 1600000000000000000ull, HashMode::Full};
}

FileHashes hashes_of(std::string_view text) { return {blake3_digest(text), std::nullopt, std::nullopt}; }

TEST(HashCache, KeysDifferingInAnyFieldAreSeparateEntries) {
  HashCache cache;
  const HashCacheKey base{7, 8, 9, 10, 11, HashMode::Full};
  cache.insert(base, hashes_of("base"));
  const HashCacheKey variants[] = {
      {70, 8, 9, 10, 11, HashMode::Full}, {7, 80, 9, 10, 11, HashMode::Full},  {7, 8, 90, 10, 11, HashMode::Full},
      {7, 8, 9, 100, 11, HashMode::Full}, {7, 8, 9, 10, 110, HashMode::Full}, {7, 8, 9, 10, 11, HashMode::Sampled},
  };
  for (const auto& variant : variants) EXPECT_FALSE(cache.lookup(variant).has_value());
  EXPECT_EQ(cache.lookup(base), hashes_of("base"));
  EXPECT_EQ(cache.lookup(HashCacheKey{7, 8, 9, 10, 11, HashMode::Full}), hashes_of("base"));
}

TEST(HashCache, KeepsTheContentHashOfASampledRead) {
  HashCache cache;
  const HashCacheKey key{7, 8, 9, 10, 11, HashMode::Sampled};
  const FileHashes both{blake3_digest("samples"), blake3_digest("content"), std::nullopt};
  cache.insert(key, both);
  EXPECT_EQ(cache.lookup(key), both);
}

TEST(HashCache, InsertingAnExistingKeyReplacesItsHashes) {
  HashCache cache;
  cache.insert(key_number(1), hashes_of("old"));
  cache.insert(key_number(1), hashes_of("new"));
  EXPECT_EQ(cache.lookup(key_number(1)), hashes_of("new"));
  EXPECT_EQ(cache.size(), 1u);
}

// The cache is filled with keys 0 .. prefilled-1 in order; then `touched` (when
// set) is looked up or inserted again, then `inserted` goes in.
struct CapacityCase {
  const char* name;
  std::uint64_t prefilled;
  std::optional<std::uint64_t> looked_up;
  std::uint64_t inserted;
  std::size_t size_after;
  std::vector<std::uint64_t> gone;  // keys no longer held
  std::vector<std::uint64_t> kept;
};

void PrintTo(const CapacityCase& c, std::ostream* os) { *os << c.name; }

class HashCacheCapacity : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(HashCacheCapacity, AFullCacheDropsItsLeastRecentlyUsedEntryForANewKey) {
  const CapacityCase& c = GetParam();
  HashCache cache;
  for (std::uint64_t n = 0; n < c.prefilled; ++n) cache.insert(key_number(n), hashes_of("h"));
  ASSERT_EQ(cache.size(), c.prefilled);
  if (c.looked_up) {
    ASSERT_TRUE(cache.lookup(key_number(*c.looked_up)).has_value());
  }

  cache.insert(key_number(c.inserted), hashes_of("latest"));
  EXPECT_EQ(cache.size(), c.size_after);
  EXPECT_EQ(cache.lookup(key_number(c.inserted)), hashes_of("latest"));
  for (const std::uint64_t n : c.gone) {
    EXPECT_FALSE(cache.lookup(key_number(n)).has_value()) << "key " << n;
  }
  for (const std::uint64_t n : c.kept) {
    EXPECT_TRUE(cache.lookup(key_number(n)).has_value()) << "key " << n;
  }
}

constexpr std::uint64_t kFull = HashCache::kCapacity;

INSTANTIATE_TEST_SUITE_P(
    Rules, HashCacheCapacity,
    ::testing::Values(
        CapacityCase{"one_below_capacity_grows", kFull - 1, std::nullopt, kFull - 1, kFull, {}, {0, 1, kFull - 2}},
        CapacityCase{"at_capacity_a_new_key_drops_the_oldest", kFull, std::nullopt, kFull, kFull, {0}, {1, kFull - 1}},
        CapacityCase{"a_lookup_makes_an_entry_recent", kFull, 0, kFull, kFull, {1}, {0, 2}},
        CapacityCase{"at_capacity_an_existing_key_drops_nothing", kFull, std::nullopt, 5, kFull, {}, {0, 1, kFull - 1}}),
    [](const auto& test_info) { return std::string(test_info.param.name); });

TEST(HashCache, EntriesInUseOutliveAWholeCacheOfNewKeys) {
  HashCache cache;
  for (std::uint64_t n = 0; n < kFull; ++n) cache.insert(key_number(n), hashes_of("h"));
  // The ten oldest entries are used again, then the rest of the cache is replaced.
  for (std::uint64_t n = 0; n < 10; ++n) ASSERT_TRUE(cache.lookup(key_number(n)).has_value());
  for (std::uint64_t n = kFull; n < 2 * kFull - 10; ++n) cache.insert(key_number(n), hashes_of("h"));
  EXPECT_EQ(cache.size(), kFull);
  for (std::uint64_t n = 0; n < 10; ++n) {
    EXPECT_TRUE(cache.lookup(key_number(n)).has_value()) << n;
  }
  for (const std::uint64_t n : {std::uint64_t{10}, kFull - 1}) {
    EXPECT_FALSE(cache.lookup(key_number(n)).has_value()) << n;
  }
  EXPECT_TRUE(cache.lookup(key_number(kFull)).has_value());
}

TEST(HashCache, LookupEachFindsStoredKeysInOrderAndMakesThemRecent) {
  HashCache cache;
  for (std::uint64_t n = 0; n < kFull; ++n) cache.insert(key_number(n), hashes_of(n == 2 ? "two" : "h"));
  const HashCacheKey keys[] = {key_number(2), key_number(kFull + 7), key_number(0)};
  std::optional<FileHashes> found[3];
  cache.lookup_each(keys, found);
  EXPECT_EQ(found[0], hashes_of("two"));
  EXPECT_FALSE(found[1].has_value());
  EXPECT_EQ(found[2], hashes_of("h"));
  // Both found entries are now more recent than key 1, the oldest one left.
  cache.insert(key_number(kFull), hashes_of("new"));
  EXPECT_FALSE(cache.lookup(key_number(1)).has_value());
  EXPECT_TRUE(cache.lookup(key_number(0)).has_value());
  EXPECT_TRUE(cache.lookup(key_number(2)).has_value());
}

// may_hold lets a caller skip examining a file only when nothing of it is stored in that mode.
TEST(HashCache, MayHoldIsTrueForEveryStoredFileAndMode) {
  HashCache cache;
  EXPECT_FALSE(cache.may_hold(1, 7, HashMode::Full));
  const HashCacheKey sampled{1, 7, 4096, 1600000000000000000ull, 1600000000000000000ull, HashMode::Sampled};
  cache.insert(sampled, hashes_of("s"));
  EXPECT_TRUE(cache.may_hold(1, 7, HashMode::Sampled));
  EXPECT_FALSE(cache.may_hold(1, 7, HashMode::Full));  // a full read of it would find nothing
  EXPECT_FALSE(cache.may_hold(1, 7, HashMode::Head));
  cache.insert(key_number(7), hashes_of("f"));  // the same file, full
  cache.insert(key_number(7), hashes_of("g"));  // replaced: still the same key
  EXPECT_TRUE(cache.may_hold(1, 7, HashMode::Full));
  EXPECT_FALSE(cache.may_hold(1, 8, HashMode::Full));
  EXPECT_FALSE(cache.may_hold(2, 7, HashMode::Full));
  for (std::uint64_t n = 0; n < kFull; ++n) cache.insert(key_number(n), hashes_of("h"));
  for (std::uint64_t n = 0; n < kFull; ++n) ASSERT_TRUE(cache.may_hold(1, n, HashMode::Full)) << n;
}

TEST(HashCache, MayHoldForgetsFilesWhoseKeysWereDropped) {
  HashCache cache;
  for (std::uint64_t n = 0; n < kFull; ++n) cache.insert(key_number(n), hashes_of("old"));
  // A whole cache of other files drops every key of the first ones.
  for (std::uint64_t n = 0; n < kFull; ++n) {
    cache.insert(HashCacheKey{3, n, 4096, 1600000000000000000ull, 1600000000000000000ull, HashMode::Full},
                 hashes_of("new"));
  }
  ASSERT_FALSE(cache.lookup(key_number(0)).has_value());
  // The filter is shared between files, so some dropped files still read
  // true, but about a fifth of its slots are empty again.
  std::uint64_t still_reported = 0;
  for (std::uint64_t n = 0; n < kFull; ++n) still_reported += cache.may_hold(1, n, HashMode::Full) ? 1 : 0;
  EXPECT_LT(still_reported, kFull * 9 / 10);
}

}  // namespace
}  // namespace qm
