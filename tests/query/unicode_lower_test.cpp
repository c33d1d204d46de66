#include "query/unicode_lower.h"

#include <gtest/gtest.h>
#include <unicode/ustring.h>

#include <ostream>
#include <string>
#include <vector>

namespace qm {
namespace {

struct LowerCase {
  std::string text;
  std::string expected;
};

std::ostream& operator<<(std::ostream& out, const LowerCase& c) { return out << '"' << c.text << '"'; }

class UnicodeLower : public ::testing::TestWithParam<LowerCase> {};

TEST_P(UnicodeLower, AppliesTheFullDefaultLowercaseMapping) {
  EXPECT_EQ(unicode_lower(GetParam().text), GetParam().expected);
  // The reusable form gives the same text, also after a longer non-ASCII text filled its buffers.
  Lowercaser lowercaser;
  lowercaser.lower("ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ ÄÖÜ");
  EXPECT_EQ(lowercaser.lower(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnicodeLower,
    ::testing::Values(LowerCase{"", ""}, LowerCase{"Holiday PHOTO 2024.JPG", "holiday photo 2024.jpg"},
                      LowerCase{"@[`{~", "@[`{~"},        // the neighbours of A-Z and a-z stay
                      LowerCase{"ÉTÉ", "été"},            // Latin-1 capitals
                      LowerCase{"Straẞe", "straße"},      // capital sharp s lowers to ß
                      LowerCase{"straße", "straße"},      // and ß stays as it is
                      LowerCase{"İstanbul", "i̇stanbul"},  // dotted capital I: i plus a combining dot
                      LowerCase{"ΟΔΟΣ", "οδος"},          // final sigma at the end of a word
                      LowerCase{"ΣΑΣ ΣΑΣ", "σας σας"},
                      LowerCase{"ＡＢＣ", "ａｂｃ"},       // full-width letters
                      LowerCase{"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},  // outside the BMP: Deseret
                      LowerCase{"KELVIN", "kelvin"},
                      LowerCase{"\xE2\x84\xAA", "k"},  // the Kelvin sign lowers to ASCII k
                      LowerCase{std::string("A\xFF" "B", 3), "a\xEF\xBF\xBD" "b"}));  // invalid byte -> U+FFFD

TEST(UnicodeLower, AsciiFastPathAgreesWithIcuForEveryAsciiCharacter) {
  for (int c = 1; c < 0x80; ++c) {
    const std::string text{'x', static_cast<char>(c), 'Y'};
    UChar utf16[3] = {u'x', static_cast<UChar>(c), u'Y'};
    UChar lowered[16];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strToLower(lowered, 16, utf16, 3, "", &status);
    ASSERT_TRUE(U_SUCCESS(status));
    ASSERT_EQ(length, 3);
    const std::string expected{static_cast<char>(lowered[0]), static_cast<char>(lowered[1]),
                               static_cast<char>(lowered[2])};
    EXPECT_EQ(unicode_lower(text), expected) << "character " << c;
  }
}

TEST(UnicodeLower, HandlesTextThatGrowsBeyondTheInitialBuffers) {
  // Each "İ" (2 bytes) becomes 3 bytes, so the result outgrows every first guess.
  std::string text;
  std::string expected;
  for (int i = 0; i < 500; ++i) {
    text += "İ";
    expected += "i̇";
  }
  EXPECT_EQ(unicode_lower(text), expected);
}

}  // namespace
}  // namespace qm
