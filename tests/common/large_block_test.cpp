#include "common/large_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qm {
namespace {

// What mincore fills in, one per page: unsigned char on Linux, char on macOS.
#if defined(__APPLE__)
using MincoreByte = char;
#else
using MincoreByte = unsigned char;
#endif

// Whether every page of [start, start + bytes) is mapped in this process:
// mincore fails with ENOMEM on any page that is not.
bool is_mapped(const void* start, std::size_t bytes) {
  std::vector<MincoreByte> pages(bytes / static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + 1);
  return ::mincore(const_cast<void*>(start), bytes, pages.data()) == 0;
}

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
  ASSERT_TRUE(is_mapped(block, bytes));
  free_large_block(block, bytes);
  EXPECT_FALSE(is_mapped(block, bytes));
  EXPECT_EQ(errno, ENOMEM);
}

TEST(LargeBlock, SizesThatAreNotWholeBlocksAreRefused) {
  for (const std::size_t bytes : {std::size_t{0}, std::size_t{1}, kLargeBlockAlignment + 4096}) {
    EXPECT_EQ(allocate_large_block(bytes), nullptr) << bytes;
  }
  free_large_block(nullptr, kLargeBlockAlignment);  // like free: nothing to do
}

}  // namespace
}  // namespace qm
