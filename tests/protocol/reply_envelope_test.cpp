#include "protocol/reply_envelope.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "protocol/json_writer.h"

namespace qm {
namespace {

std::string result_reply(std::uint64_t id, const JsonValue& value) {
  std::string out;
  render_result_reply(id, value, out);
  return out;
}

TEST(ReplyEnvelope, ASuccessCarriesTheIdAndTheResultUnchanged) {
  EXPECT_EQ(result_reply(7, JsonValue(true)), R"({"request":7,"result":true})");
  EXPECT_EQ(result_reply(0, JsonValue()), R"({"request":0,"result":null})");
  EXPECT_EQ(result_reply(18446744073709551615u, JsonValue(JsonObject{{"b", 1.5}, {"a", JsonArray{}}})),
            R"({"request":18446744073709551615,"result":{"a":[],"b":1.5}})");
  // The same text as the envelope built as an object.
  const JsonValue result(JsonObject{{"items", JsonArray{JsonValue("x")}}});
  EXPECT_EQ(result_reply(3, result), to_json(JsonObject{{"result", result}, {"request", 3}}));
}

TEST(ReplyEnvelope, AFailureCarriesTheErrorTextBeforeTheId) {
  std::string out;
  render_error_reply(7, "Unknown command", out);
  EXPECT_EQ(out, R"({"error":"Unknown command","request":7})");
  out.clear();
  render_error_reply(1, "No such file \"x\"\n", out);
  EXPECT_EQ(out, R"({"error":"No such file \"x\"\n","request":1})");
}

TEST(ReplyEnvelope, ADecodeFailureHasOnlyTheErrorWithLineAndColumn) {
  std::string out;
  render_decode_error_reply(DecodeError{"missing field `command`", 1, 13}, out);
  EXPECT_EQ(out, R"({"error":"missing field `command` at line 1 column 13"})");
  out.clear();
  render_decode_error_reply(DecodeError{"control character (\\u0000-\\u001F) found while parsing a string", 1, 5}, out);
  EXPECT_EQ(out, R"({"error":"control character (\\u0000-\\u001F) found while parsing a string at line 1 column 5"})");
}

}  // namespace
}  // namespace qm
