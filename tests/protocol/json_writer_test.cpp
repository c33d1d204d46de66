#include "protocol/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace qm {
namespace {

struct DoubleCase {
  double value;
  const char* text;
};

class DoubleLayout : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(DoubleLayout, IsShortestRoundTripDigitsInFixedOrScientificForm) {
  EXPECT_EQ(to_json(JsonValue(GetParam().value)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, DoubleLayout,
    ::testing::Values(DoubleCase{0.5, "0.5"}, DoubleCase{0.1, "0.1"}, DoubleCase{0.00001, "0.00001"},
                      DoubleCase{0.000123, "0.000123"}, DoubleCase{0.000001, "1e-6"}, DoubleCase{1.5e-7, "1.5e-7"},
                      DoubleCase{1.0, "1.0"}, DoubleCase{100.0, "100.0"}, DoubleCase{1e15, "1000000000000000.0"},
                      DoubleCase{1e16, "1e+16"}, DoubleCase{123.456, "123.456"}, DoubleCase{-2.5, "-2.5"},
                      DoubleCase{0.0, "0.0"}, DoubleCase{-0.0, "-0.0"}, DoubleCase{1.25e15, "1250000000000000.0"},
                      DoubleCase{123456789012345.6, "123456789012345.6"}, DoubleCase{1.5e300, "1.5e+300"},
                      DoubleCase{-1e-300, "-1e-300"}, DoubleCase{1.8446744073709552e19, "1.8446744073709552e+19"},
                      DoubleCase{std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
                      DoubleCase{std::numeric_limits<double>::denorm_min(), "5e-324"},
                      DoubleCase{std::numeric_limits<double>::min(), "2.2250738585072014e-308"}));

TEST(DoubleLayout, ReadsBackToTheSameDoubleForAWideSpreadOfValues) {
  // Every layout branch, checked against the exact bits of the double.
  double value = 1.2345678901234567e-320;
  while (std::isfinite(value)) {
    for (const double sample : {value, -value, value * 3.0000000000000004, 1.0 / value}) {
      if (!std::isfinite(sample)) continue;
      const std::string text = to_json(JsonValue(sample));
      const double back = std::strtod(text.c_str(), nullptr);
      ASSERT_EQ(std::memcmp(&back, &sample, sizeof back), 0) << text;
      ASSERT_EQ(text.find_first_of(" E"), std::string::npos) << text;
    }
    value *= 7.3;
  }
}

TEST(JsonValues, NonFiniteDoublesBecomeNull) {
  EXPECT_EQ(to_json(JsonValue(std::nan(""))), "null");
  EXPECT_EQ(to_json(JsonValue(std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(to_json(JsonValue(-std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(to_json(JsonValue(std::numeric_limits<float>::quiet_NaN())), "null");
  JsonObject object{{"ratio", std::nan("")}, {"x", 1}};
  EXPECT_EQ(to_json(object), R"({"ratio":null,"x":1})");
}

TEST(JsonValues, FloatsAreWidenedWithoutRounding) {
  EXPECT_EQ(to_json(JsonValue(12.3f)), "12.300000190734863");
  EXPECT_EQ(to_json(JsonValue(0.1f)), "0.10000000149011612");
  EXPECT_EQ(to_json(JsonValue(2.0f)), "2.0");
}

TEST(JsonValues, IntegersAreWrittenInFullWithoutFraction) {
  EXPECT_EQ(to_json(JsonValue(std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
  EXPECT_EQ(to_json(JsonValue(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(to_json(JsonValue(0)), "0");
  EXPECT_EQ(to_json(JsonValue(-1)), "-1");
  // A non-negative signed source is the unsigned kind.
  EXPECT_EQ(JsonValue(5).as_number().kind(), JsonNumber::Kind::Unsigned);
  EXPECT_EQ(JsonValue(std::int64_t{-5}).as_number().kind(), JsonNumber::Kind::Negative);
}

struct StringCase {
  std::string text;
  std::string json;
};

class StringEscapes : public ::testing::TestWithParam<StringCase> {};

TEST_P(StringEscapes, EscapeOnlyQuotesBackslashesAndControlBytes) {
  EXPECT_EQ(to_json(JsonValue(GetParam().text)), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StringEscapes,
    ::testing::Values(StringCase{"", "\"\""}, StringCase{"plain", "\"plain\""},
                      StringCase{"\t\"\x1f", "\"\\t\\\"\\u001f\""},
                      StringCase{"\b\f\n\r\\", "\"\\b\\f\\n\\r\\\\\""},
                      StringCase{std::string("\x00\x01\x0b\x1b", 4), "\"\\u0000\\u0001\\u000b\\u001b\""},
                      StringCase{"a/b\x7f", "\"a/b\x7f\""}, StringCase{"caf\xc3\xa9", "\"caf\xc3\xa9\""},
                      StringCase{"\xf0\x9f\x98\x80 ok", "\"\xf0\x9f\x98\x80 ok\""},
                      StringCase{"x\ny\nz", "\"x\\ny\\nz\""}));

TEST(JsonObjects, KeepMembersInByteOrderOfTheirKeys) {
  JsonObject object;
  object.insert("result", true);
  object.insert("request", 1);
  EXPECT_EQ(to_json(object), R"({"request":1,"result":true})");

  JsonObject mixed;
  for (const char* key : {"ab", "a", "B", "", "\xc3\xa9", "Z"}) mixed.insert(key, 0);
  EXPECT_EQ(to_json(mixed), "{\"\":0,\"B\":0,\"Z\":0,\"a\":0,\"ab\":0,\"\xc3\xa9\":0}");
}

TEST(JsonObjects, InsertingAnExistingKeyReplacesItsValue) {
  JsonObject object;
  object.insert("a", 1);
  object.insert("b", 3);
  object.insert("a", 2);
  EXPECT_EQ(to_json(object), R"({"a":2,"b":3})");
  EXPECT_EQ(object.size(), 2u);
  ASSERT_NE(object.find("a"), nullptr);
  EXPECT_EQ(*object.find("a"), JsonValue(2));
  EXPECT_EQ(object.find("c"), nullptr);
  EXPECT_EQ(object.find("ab"), nullptr);
}

TEST(JsonObjects, BuiltFromMembersInAnyOrderKeepTheLastOfEqualKeys) {
  std::vector<JsonObject::Member> members;
  members.emplace_back("b", 1);
  members.emplace_back("a", 2);
  members.emplace_back("b", 3);
  members.emplace_back("c", 4);
  members.emplace_back("a", 5);
  members.emplace_back("b", 6);
  EXPECT_EQ(to_json(JsonObject::from_members(std::move(members))), R"({"a":5,"b":6,"c":4})");
  EXPECT_EQ(to_json(JsonObject::from_members({})), "{}");

  std::vector<JsonObject::Member> ascending;
  ascending.emplace_back("a", 1);
  ascending.emplace_back("b", 2);
  ascending.emplace_back("b", 3);  // equal neighbours are not ascending: the last one wins
  EXPECT_EQ(to_json(JsonObject::from_members(std::move(ascending))), R"({"a":1,"b":3})");

  // Many keys in descending order, as a request could send them.
  std::vector<JsonObject::Member> descending;
  for (int i = 99999; i >= 0; --i) descending.emplace_back(std::to_string(100000 + i), i);
  const JsonObject big = JsonObject::from_members(std::move(descending));
  ASSERT_EQ(big.size(), 100000u);
  EXPECT_EQ(big.begin()->first, "100000");
  EXPECT_EQ(*big.find("199999"), JsonValue(99999));
}

TEST(JsonValues, NestedContainersRenderCompactly) {
  JsonArray inner{JsonValue(), JsonValue(false), JsonValue("x"), JsonValue(JsonArray{}), JsonValue(JsonObject{})};
  JsonObject object{{"list", JsonValue(std::move(inner))}, {"n", -3}, {"t", true}};
  EXPECT_EQ(to_json(object), R"({"list":[null,false,"x",[],{}],"n":-3,"t":true})");
}

TEST(JsonValues, CopiesAreDeepAndEqualityComparesKindsAndBits) {
  JsonValue original(JsonObject{{"a", JsonValue(JsonArray{JsonValue(1), JsonValue("s")})}});
  JsonValue copy = original;
  copy.as_object().find("a")->as_array().push_back(JsonValue(2));
  EXPECT_EQ(to_json(original), R"({"a":[1,"s"]})");
  EXPECT_NE(copy, original);
  EXPECT_NE(JsonValue(1), JsonValue(1.0));
  EXPECT_NE(JsonValue(0.0), JsonValue(-0.0));
  EXPECT_EQ(JsonValue(0.5), JsonValue(0.5));
  JsonValue moved = std::move(copy);
  EXPECT_TRUE(copy.is_null());  // NOLINT(bugprone-use-after-move): moved-from values are null
  EXPECT_EQ(to_json(moved), R"({"a":[1,"s",2]})");
}

}  // namespace
}  // namespace qm
