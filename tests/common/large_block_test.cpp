#include "common/large_block.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "support/resident_pages.h"

namespace qm {
namespace {

TEST(LargeBlock, IsAlignedZeroWritableAndOfTheSizeAsked) {
  for (const std::size_t blocks : {1u, 3u}) {
    const std::size_t bytes = blocks * kLargeBlockAlignment;
    void* block = allocate_large_block(bytes);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kLargeBlockAlignment, 0u);
    auto* bytes_of = static_cast<unsigned char*>(block);
    EXPECT_EQ(bytes_of[0], 0);
    EXPECT_EQ(bytes_of[bytes - 1], 0);
    std::memset(block, 0x5A, bytes);  // every byte is the caller's
    EXPECT_EQ(bytes_of[bytes - 1], 0x5A);
    free_large_block(block, bytes);
  }
}

TEST(LargeBlock, AFreedBlockGoesBackToTheSystemAtOnce) {
  const std::size_t bytes = 2 * kLargeBlockAlignment;
  void* block = allocate_large_block(bytes);
  ASSERT_NE(block, nullptr);
  std::memset(block, 1, bytes);
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  ASSERT_TRUE(test::pages_resident(address, bytes));
  free_large_block(block, bytes);
  EXPECT_FALSE(test::pages_resident(address, bytes));
  EXPECT_EQ(errno, ENOMEM) << "unmapped, not merely paged out";
}

TEST(LargeBlock, SizesThatAreNotWholeBlocksAreRefused) {
  for (const std::size_t bytes : {std::size_t{0}, std::size_t{1}, kLargeBlockAlignment + 4096}) {
    EXPECT_EQ(allocate_large_block(bytes), nullptr) << bytes;
  }
  free_large_block(nullptr, kLargeBlockAlignment);  // like free: nothing to do
}

}  // namespace
}  // namespace qm
