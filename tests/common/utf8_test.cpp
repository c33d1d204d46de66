#include "common/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

struct Utf8Case {
  std::string bytes;
  bool valid;
  std::string lossy;
};

void PrintTo(const Utf8Case& c, std::ostream* os) {
  for (const unsigned char b : c.bytes) *os << std::hex << static_cast<int>(b) << ' ';
}

class Utf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8, IsValidatedStrictlyAndRepairedByMaximalSubparts) {
  EXPECT_EQ(is_valid_utf8(GetParam().bytes), GetParam().valid);
  EXPECT_EQ(lossy_utf8(GetParam().bytes), GetParam().lossy);
}

const std::string R = "\xef\xbf\xbd";  // U+FFFD
const std::string kAscii = "0123456789abcdef";  // longer than the 8-byte fast path

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8,
    ::testing::Values(Utf8Case{"", true, ""}, Utf8Case{kAscii, true, kAscii},
                      Utf8Case{"caf\xc3\xa9", true, "caf\xc3\xa9"}, Utf8Case{"\xe2\x82\xac", true, "\xe2\x82\xac"},
                      Utf8Case{"\xf0\x9f\x98\x80", true, "\xf0\x9f\x98\x80"},
                      Utf8Case{"\xf4\x8f\xbf\xbf", true, "\xf4\x8f\xbf\xbf"},
                      Utf8Case{std::string("a\0b", 3), true, std::string("a\0b", 3)},
                      Utf8Case{kAscii + "\xc3\xa9" + kAscii, true, kAscii + "\xc3\xa9" + kAscii},
                      Utf8Case{"\xc0\xaf", false, R + R}, Utf8Case{"\xc1\xbf", false, R + R},
                      Utf8Case{"\xe0\x80\xaf", false, R + R + R}, Utf8Case{"\xed\xa0\x80", false, R + R + R},
                      Utf8Case{"\xf4\x90\x80\x80", false, R + R + R + R}, Utf8Case{"\xf5\x80", false, R + R},
                      Utf8Case{"\xff", false, R}, Utf8Case{"\x80", false, R},
                      Utf8Case{"\xe2\x82", false, R}, Utf8Case{"\xe2\x82x", false, R + "x"},
                      Utf8Case{"\xf0\x9f\x98" + kAscii, false, R + kAscii},
                      Utf8Case{kAscii + "\xff", false, kAscii + R},
                      Utf8Case{kAscii.substr(0, 7) + "\x80" + kAscii, false, kAscii.substr(0, 7) + R + kAscii}));

}  // namespace
}  // namespace qm
