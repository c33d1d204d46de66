#include "common/large_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace qm {
namespace {

TEST(LargeBlock, IsAlignedWritableAndOfTheSizeAsked) {
  for (const std::size_t blocks : {1u, 3u}) {
    const std::size_t bytes = blocks * kLargeBlockAlignment;
    void* block = allocate_large_block(bytes);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kLargeBlockAlignment, 0u);
    std::memset(block, 0x5A, bytes);  // every byte is the caller's
    EXPECT_EQ(static_cast<unsigned char*>(block)[bytes - 1], 0x5A);
    free_large_block(block);
  }
}

TEST(LargeBlock, SizesThatAreNotWholeBlocksAreRefused) {
  for (const std::size_t bytes : {std::size_t{0}, std::size_t{1}, kLargeBlockAlignment + 4096}) {
    EXPECT_EQ(allocate_large_block(bytes), nullptr) << bytes;
  }
  free_large_block(nullptr);  // like free: nothing to do
}

}  // namespace
}  // namespace qm
