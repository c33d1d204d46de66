#include "hashing/blake3_hex.h"

#include <gtest/gtest.h>

#include "hashing_test_support.h"

namespace qm {
namespace {

TEST(Blake3Hex, EmptyInputGivesTheKnownDigest) {
  EXPECT_EQ(blake3_hex(""), "af1349b9f5f9a1a6a0404dea36dcc9499bcb25c9adc112b7cc9a93cae41f3262");
}

TEST(Blake3Hex, DigestBytesAreWrittenHighNibbleFirstInLowercase) {
  Digest digest;
  for (std::size_t i = 0; i < digest.bytes.size(); ++i) digest.bytes[i] = static_cast<std::uint8_t>(i * 8 + 7);
  EXPECT_EQ(digest_hex(digest), "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff");
}

TEST(Blake3Hex, MatchesB3sumForContentOfManySizes) {
  test::TempDir dir;
  for (const std::size_t size : {std::size_t{1}, std::size_t{1024}, std::size_t{1025}, std::size_t{200000}}) {
    const std::string content = test::pseudo_random_bytes(size, size);
    const std::string path = dir.write_file("f" + std::to_string(size), content);
    EXPECT_EQ(blake3_hex(content), test::b3sum_of(path)) << "size " << size;
  }
}

}  // namespace
}  // namespace qm
