#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "protocol/json_writer.h"
#include "protocol/request.h"
#include "support/failing_allocations.h"

namespace qm {
namespace {

// "request=N command=C args=JSON" for a decoded line, "<message> at line L column C" otherwise.
std::string outcome(std::string_view line) {
  auto decoded = decode_request(line);
  if (auto* error = std::get_if<DecodeError>(&decoded)) {
    return error->message + " at line " + std::to_string(error->line) + " column " + std::to_string(error->column);
  }
  const Request& request = std::get<Request>(decoded);
  return "request=" + std::to_string(request.request) + " command=" + request.command + " args=" + to_json(request.args);
}

struct LineCase {
  std::string line;
  std::string expected;
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.line.substr(0, 80); }

class DecodeTable : public ::testing::TestWithParam<LineCase> {};

TEST_P(DecodeTable, GivesTheExactRequestOrFailure) { EXPECT_EQ(outcome(GetParam().line), GetParam().expected); }

// Prefix of a request whose args value starts at column 35.
const std::string kArgs = R"({"request":1,"command":"x","args":)";
// Prefix of a request with an ignored member whose value starts at column 32.
const std::string kSkip = R"({"request":1,"command":"x","z":)";

INSTANTIATE_TEST_SUITE_P(
    Accepted, DecodeTable,
    ::testing::Values(
        LineCase{R"({"request":1,"command":"scan"})", "request=1 command=scan args=null"},
        LineCase{R"({"command":"scan","request":1,"args":null})", "request=1 command=scan args=null"},
        LineCase{R"([1,"scan"])", "request=1 command=scan args=null"},
        LineCase{R"({"request":1,"command":"scan","extra":[[[[1]]]]})", "request=1 command=scan args=null"},
        LineCase{"{\"request\":1,\"command\":\"x\"}  \t ", "request=1 command=x args=null"},
        LineCase{" \t{ \"request\" : 0 , \"command\" : \"\" , \"args\" : [ ] }\r", "request=0 command= args=[]"},
        LineCase{R"([18446744073709551615,"children",{"id":5}])",
                 "request=18446744073709551615 command=children args={\"id\":5}"},
        LineCase{R"({"re\u0071uest":5,"command":"x"})", "request=5 command=x args=null"},
        LineCase{R"({"Request":5,"request":6,"command":"x"})", "request=6 command=x args=null"},
        LineCase{R"({"request":-0,"command":"x"})", "request=0 command=x args=null"},
        LineCase{kArgs + R"({"b":1,"a":2,"b":3}})", "request=1 command=x args={\"a\":2,\"b\":3}"},
        LineCase{kArgs + R"("\u00e9\ud83d\ude00\n\/\"\\\b\f\r\t"})",
                 "request=1 command=x args=\"\xc3\xa9\xf0\x9f\x98\x80\\n/\\\"\\\\\\b\\f\\r\\t\""},
        LineCase{kArgs + R"("\u0000")" + "}", "request=1 command=x args=\"\\u0000\""},
        LineCase{kArgs + R"([0,-0,-9223372036854775808,-9223372036854775809,18446744073709551615,18446744073709551616]})",
                 "request=1 command=x args=[0,0,-9223372036854775808,-9.223372036854776e+18,18446744073709551615,"
                 "1.8446744073709552e+19]"},
        LineCase{kArgs + R"([1e2,1E-2,0.5e+1,2.50,-0.0,1e-400,-1e-400,0e999999999999]})",
                 "request=1 command=x args=[100.0,0.01,5.0,2.5,-0.0,0.0,-0.0,0.0]"},
        LineCase{kArgs + R"({"k":[true,false,null,{"":{}}]}})",
                 "request=1 command=x args={\"k\":[true,false,null,{\"\":{}}]}"},
        LineCase{kSkip + R"({"a":[1,{"b":null}],"c":"\ud800","d":-1.5e-3})" + "}", "request=1 command=x args=null"},
        LineCase{kSkip + "1e99999999999}", "request=1 command=x args=null"},
        LineCase{"{\"request\":1,\"command\":\"caf\xc3\xa9\"}", "request=1 command=caf\xc3\xa9 args=null"}));

INSTANTIATE_TEST_SUITE_P(
    RequestShape, DecodeTable,
    ::testing::Values(
        LineCase{"", "EOF while parsing a value at line 1 column 0"},
        LineCase{"   ", "EOF while parsing a value at line 1 column 3"},
        LineCase{R"({"request":7})", "missing field `command` at line 1 column 13"},
        LineCase{R"({"command":"scan"})", "missing field `request` at line 1 column 18"},
        LineCase{"{}", "missing field `request` at line 1 column 2"},
        LineCase{R"({"request":1,"request":2,"command":"x"})", "duplicate field `request` at line 1 column 22"},
        LineCase{R"({"request":1,"request" })", "duplicate field `request` at line 1 column 24"},
        LineCase{R"({"request":1,"command":"x","command":"y"})", "duplicate field `command` at line 1 column 36"},
        LineCase{R"({"request":1,"command":"x","args":1,"args":2})", "duplicate field `args` at line 1 column 42"},
        LineCase{R"({"request":-1,"command":"x"})", "invalid value: integer `-1`, expected u64 at line 1 column 13"},
        LineCase{R"({"request":1.0,"command":"x"})",
                 "invalid type: floating point `1.0`, expected u64 at line 1 column 14"},
        LineCase{R"({"request":1e5,"command":"x"})",
                 "invalid type: floating point `100000.0`, expected u64 at line 1 column 14"},
        LineCase{R"({"request":18446744073709551616,"command":"x"})",
                 "invalid type: floating point `1.8446744073709552e+19`, expected u64 at line 1 column 31"},
        LineCase{R"({"request":-9223372036854775808,"command":"x"})",
                 "invalid value: integer `-9223372036854775808`, expected u64 at line 1 column 31"},
        LineCase{R"({"request":-9223372036854775809,"command":"x"})",
                 "invalid type: floating point `-9.223372036854776e+18`, expected u64 at line 1 column 31"},
        LineCase{R"({"request":"1","command":"x"})", "invalid type: string \"1\", expected u64 at line 1 column 14"},
        LineCase{R"({"request":"a\"b\\c\nd\u0001","command":"x"})",
                 "invalid type: string \"a\\\"b\\\\c\\nd\\u{1}\", expected u64 at line 1 column 29"},
        LineCase{R"({"request":true,"command":"x"})", "invalid type: boolean `true`, expected u64 at line 1 column 15"},
        LineCase{R"({"request":null,"command":"x"})", "invalid type: null, expected u64 at line 1 column 15"},
        LineCase{R"({"request":{},"command":"x"})", "invalid type: map, expected u64 at line 1 column 11"},
        LineCase{R"({"request":01,"command":"x"})", "invalid number at line 1 column 13"},
        LineCase{R"({"request":1,"command":5})", "invalid type: integer `5`, expected a string at line 1 column 24"},
        LineCase{R"({"request":1,"command":[]})", "invalid type: sequence, expected a string at line 1 column 23"},
        LineCase{R"({"request":1,"command":-2.5})",
                 "invalid type: floating point `-2.5`, expected a string at line 1 column 27"},
        LineCase{"42", "invalid type: integer `42`, expected struct Request at line 1 column 2"},
        LineCase{"-5", "invalid type: integer `-5`, expected struct Request at line 1 column 2"},
        LineCase{"1.5", "invalid type: floating point `1.5`, expected struct Request at line 1 column 3"},
        LineCase{R"("scan")", "invalid type: string \"scan\", expected struct Request at line 1 column 6"},
        LineCase{"null", "invalid type: null, expected struct Request at line 1 column 4"},
        LineCase{"false", "invalid type: boolean `false`, expected struct Request at line 1 column 5"},
        LineCase{"nul", "EOF while parsing a value at line 1 column 3"},
        LineCase{"x", "expected value at line 1 column 1"},
        LineCase{"\xef\xbb\xbf{}", "expected value at line 1 column 1"},
        LineCase{"[]", "invalid length 0, expected struct Request with 3 elements at line 1 column 2"},
        LineCase{"[ 1 ]", "invalid length 1, expected struct Request with 3 elements at line 1 column 5"},
        LineCase{R"([1,"x",null,4])", "trailing characters at line 1 column 13"},
        LineCase{R"([1,"x",null,])", "trailing comma at line 1 column 13"},
        LineCase{R"([1,"x",{},)", "trailing characters at line 1 column 10"},
        LineCase{R"([1,"x",{}  x)", "trailing characters at line 1 column 12"},
        LineCase{R"([1,"x",{})", "EOF while parsing a list at line 1 column 9"},
        LineCase{R"([1,"x",])", "trailing comma at line 1 column 8"},
        LineCase{R"([1,,"x"])", "expected value at line 1 column 4"},
        LineCase{R"([1,2])", "invalid type: integer `2`, expected a string at line 1 column 4"},
        LineCase{R"([-1,"x"])", "invalid value: integer `-1`, expected u64 at line 1 column 3"},
        LineCase{R"([1 "x"])", "expected `,` or `]` at line 1 column 4"},
        LineCase{"[1,", "EOF while parsing a value at line 1 column 3"},
        LineCase{"[1", "EOF while parsing a list at line 1 column 2"},
        LineCase{"[", "EOF while parsing a list at line 1 column 1"},
        LineCase{"{", "EOF while parsing an object at line 1 column 1"},
        LineCase{R"({"request":1,"command":"x"} x)", "trailing characters at line 1 column 29"},
        LineCase{R"({"request":1,"command":"x"}})", "trailing characters at line 1 column 28"},
        LineCase{R"({"request":1,"command":"x",})", "trailing comma at line 1 column 28"},
        LineCase{R"({"request":1)", "EOF while parsing an object at line 1 column 12"},
        LineCase{R"({"request":1,)", "EOF while parsing a value at line 1 column 13"},
        LineCase{R"({"request")", "EOF while parsing an object at line 1 column 10"},
        LineCase{R"({"request":)", "EOF while parsing a value at line 1 column 11"},
        LineCase{R"({"request" 1})", "expected `:` at line 1 column 12"},
        LineCase{R"({1:2})", "key must be a string at line 1 column 2"},
        LineCase{R"({"request":1 "command":"x"})", "expected `,` or `}` at line 1 column 14"},
        LineCase{R"({"\udc00":1})", "lone leading surrogate in hex escape at line 1 column 8"},
        LineCase{"{\"re\x01quest\":1}",
                 "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 5"},
        // Columns count bytes: the e with acute accent is two.
        LineCase{"{\"request\":1,\"command\":\"\xc3\xa9\",\"args\":@}", "expected value at line 1 column 36"}));

INSTANTIATE_TEST_SUITE_P(
    ArgsSyntax, DecodeTable,
    ::testing::Values(
        LineCase{kArgs + "[1,]}", "trailing comma at line 1 column 38"},
        LineCase{kArgs + R"({"a":1,}})", "trailing comma at line 1 column 42"},
        LineCase{kArgs + "nul", "EOF while parsing a value at line 1 column 37"},
        LineCase{kArgs + "nulx}", "expected ident at line 1 column 38"},
        LineCase{kArgs + "tru}", "expected ident at line 1 column 38"},
        LineCase{kArgs + "@}", "expected value at line 1 column 35"},
        LineCase{kArgs + R"("\x"})", "invalid escape at line 1 column 37"},
        LineCase{kArgs + R"("\u12g4"})", "invalid escape at line 1 column 40"},
        LineCase{kArgs + R"("\u12"})", "invalid escape at line 1 column 40"},
        LineCase{kArgs + R"("\u00)", "EOF while parsing a string at line 1 column 39"},
        LineCase{kArgs + R"("\)", "EOF while parsing a string at line 1 column 36"},
        LineCase{kArgs + R"("\udc00"})", "lone leading surrogate in hex escape at line 1 column 41"},
        LineCase{kArgs + R"("\ud800"})", "unexpected end of hex escape at line 1 column 42"},
        LineCase{kArgs + R"("\ud800\n"})", "unexpected end of hex escape at line 1 column 43"},
        LineCase{kArgs + R"("\ud800\u0041"})", "lone leading surrogate in hex escape at line 1 column 47"},
        LineCase{kArgs + R"("\ud800\udbff"})", "lone leading surrogate in hex escape at line 1 column 47"},
        LineCase{kArgs + R"("\ud800)", "EOF while parsing a string at line 1 column 41"},
        LineCase{kArgs + R"("abc)", "EOF while parsing a string at line 1 column 38"},
        LineCase{kArgs + "\"a\tb\"}",
                 "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 37"},
        LineCase{kArgs + "01}", "invalid number at line 1 column 36"},
        LineCase{kArgs + "-}", "invalid number at line 1 column 36"},
        LineCase{kArgs + "-", "EOF while parsing a value at line 1 column 35"},
        LineCase{kArgs + "1.}", "invalid number at line 1 column 37"},
        LineCase{kArgs + "1.", "EOF while parsing a value at line 1 column 36"},
        LineCase{kArgs + "1e}", "invalid number at line 1 column 37"},
        LineCase{kArgs + "1e+", "EOF while parsing a value at line 1 column 37"},
        LineCase{kArgs + "1e999}", "number out of range at line 1 column 39"},
        LineCase{kArgs + "-1e999}", "number out of range at line 1 column 40"},
        LineCase{kArgs + "1" + std::string(400, '0') + "}", "number out of range at line 1 column 435"},
        LineCase{kArgs + "1e99999999999}", "number out of range at line 1 column 46"},
        LineCase{kArgs + "[1,2", "EOF while parsing a list at line 1 column 38"},
        LineCase{kArgs + "[1 2]}", "expected `,` or `]` at line 1 column 38"},
        LineCase{kArgs + R"({"a":1)", "EOF while parsing an object at line 1 column 40"},
        LineCase{kArgs + R"({"a")", "EOF while parsing an object at line 1 column 38"},
        LineCase{kArgs + R"({"a":)", "EOF while parsing a value at line 1 column 39"},
        LineCase{kArgs + R"({"a":1,)", "EOF while parsing a value at line 1 column 41"},
        LineCase{kArgs + R"({"a" 1}})", "expected `:` at line 1 column 40"},
        LineCase{kArgs + R"({"a":1 "b":2}})", "expected `,` or `}` at line 1 column 42"},
        LineCase{kArgs + R"({3:1}})", "key must be a string at line 1 column 36"}));

INSTANTIATE_TEST_SUITE_P(
    SkippedMembers, DecodeTable,
    ::testing::Values(
        // A trailing comma inside an ignored value reads as a missing value or key.
        LineCase{kSkip + "[1,]}", "expected value at line 1 column 35"},
        LineCase{kSkip + R"({"a":1,}})", "key must be a string at line 1 column 39"},
        LineCase{kSkip + "1.", "invalid number at line 1 column 33"},
        LineCase{kSkip + "-", "invalid number at line 1 column 32"},
        LineCase{kSkip + "1e", "invalid number at line 1 column 33"},
        LineCase{kSkip + "01}", "invalid number at line 1 column 33"},
        LineCase{kSkip + "[1 2]}", "expected `,` or `]` at line 1 column 35"},
        LineCase{kSkip + R"({"a" 1}})", "expected `:` at line 1 column 37"},
        LineCase{kSkip + R"({"a":1 "b":2}})", "expected `,` or `}` at line 1 column 39"},
        LineCase{kSkip + "[", "EOF while parsing a list at line 1 column 32"},
        LineCase{kSkip + "{", "EOF while parsing an object at line 1 column 32"},
        LineCase{kSkip + R"({"a")", "EOF while parsing an object at line 1 column 35"},
        LineCase{kSkip + "tru", "EOF while parsing a value at line 1 column 34"},
        LineCase{kSkip + "fals}", "expected ident at line 1 column 36"},
        LineCase{kSkip + R"("\u12"})", "invalid escape at line 1 column 37"},
        LineCase{kSkip + R"("\q"})", "invalid escape at line 1 column 34"},
        LineCase{kSkip + "\"a\x01\"}",
                 "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 34"},
        LineCase{kSkip + "}", "expected value at line 1 column 32"},
        LineCase{kSkip + "[}]}", "expected value at line 1 column 33"},
        LineCase{kSkip + "{]}", "key must be a string at line 1 column 33"},
        LineCase{kSkip + R"([[],{"a":[{}]}] x})", "expected `,` or `}` at line 1 column 48"}));

std::string nested_args(int levels) {
  return kArgs + std::string(static_cast<std::size_t>(levels), '[') + std::string(static_cast<std::size_t>(levels), ']') +
         "}";
}

TEST(DecodeNesting, ArgsMayNest126LevelsBelowTheRequest) {
  EXPECT_EQ(outcome(nested_args(126)).substr(0, 25), "request=1 command=x args=");
  // The 127th bracket of args opens the 128th level, at column 34 + 127.
  EXPECT_EQ(outcome(nested_args(127)), "recursion limit exceeded at line 1 column 161");
  std::string objects = kArgs;
  for (int i = 0; i < 127; ++i) objects += "{\"a\":";
  // The 127th brace, 5 bytes apart from the first at column 35.
  EXPECT_EQ(outcome(objects + "1"), "recursion limit exceeded at line 1 column 665");
  // The array form counts the same way.
  const std::string array_form = "[1,\"x\"," + std::string(127, '[');
  EXPECT_EQ(outcome(array_form), "recursion limit exceeded at line 1 column 134");
  EXPECT_EQ(outcome("[1,\"x\"," + std::string(126, '[') + std::string(126, ']') + "]").substr(0, 25),
            "request=1 command=x args=");
}

TEST(DecodeNesting, AnIgnoredMemberHasNoNestingLimitAndNeverRecurses) {
  constexpr std::size_t kDepth = 10'000'000;
  std::string line = kSkip;
  line.append(kDepth, '[');
  line.append(kDepth, ']');
  line.push_back('}');
  EXPECT_EQ(outcome(line), "request=1 command=x args=null");

  std::string objects = kSkip;
  objects.reserve(kDepth * 6);
  for (std::size_t i = 0; i < kDepth / 2; ++i) objects += "{\"a\":";
  objects += "null";
  objects.append(kDepth / 2, '}');
  objects.push_back('}');
  EXPECT_EQ(outcome(objects), "request=1 command=x args=null");

  // Cut short, it fails at the end of the text instead.
  std::string unclosed = kSkip;
  unclosed.append(kDepth, '[');
  EXPECT_EQ(outcome(unclosed), "EOF while parsing a list at line 1 column " + std::to_string(unclosed.size()));
}

TEST(DecodeRequest, CountsLinesAndColumnsWhenTheTextHoldsLineFeeds) {
  // The loop never passes a line feed, but the position stays right for any text.
  EXPECT_EQ(outcome("{\n\"request\":1,\n  \"command\":5}"),
            "invalid type: integer `5`, expected a string at line 3 column 13");
}

// Memory running out anywhere in decoding is an outcome, never an exception,
// and it carries the request id exactly when the id was read before it.
TEST(DecodeOutOfMemory, IsAnOutcomeWithTheIdOnceItWasRead) {
  struct Case {
    const char* description;
    std::string line;
    std::optional<std::uint64_t> id;  // of every out-of-memory outcome
  };
  const std::vector<Case> cases = {
      {"object form, id first", R"({"request":9,"command":"measure","args":{"paths":["a","b\n",{"k":[1,2.5]}]}})", 9},
      {"array form", R"([9,"measure",{"paths":["a\u00e9","plain text"]}])", 9},
      {"id after the args", R"({"args":{"paths":["x\ty",[true]]},"command":"measure","request":9})", std::nullopt},
      {"a string id, whose message is built", R"({"request":")" + std::string(200, 'x') + R"(","command":"x"})",
       std::nullopt},
  };
  for (const Case& c : cases) {
    for (const bool in_place : {false, true}) {
      SCOPED_TRACE(std::string(c.description) + (in_place ? ", in place" : ", copied"));
      const DecodeResult whole = decode_request(c.line);
      ASSERT_EQ(std::get_if<DecodeOutOfMemory>(&whole), nullptr);
      std::optional<DecodeResult> decoded;
      const std::uint64_t runs = test::for_each_failing_allocation(
          test::FailureMode::FromThenOn,
          [&] { decoded.emplace(in_place ? decode_request_in_place(c.line) : decode_request(c.line)); },
          [&](std::uint64_t at) {
            if (const auto* out = std::get_if<DecodeOutOfMemory>(&*decoded)) {
              EXPECT_EQ(out->request, c.id) << "allocation " << at << " failed";
            } else {
              // Only the run in which nothing failed decodes, and as a whole run does.
              EXPECT_EQ(decoded->index(), whole.index()) << "allocation " << at << " failed";
            }
          });
      EXPECT_GT(runs, 0u);  // decoding allocates, and each allocation was failed
    }
  }
}

}  // namespace
}  // namespace qm
