#include <gtest/gtest.h>

#include "protocol/json_writer.h"

namespace qm {
namespace {

TEST(JsonWriterSmoke, WritesObjectsInKeyOrder) {
  JsonObject object;
  object.insert("result", true);
  object.insert("request", 1);
  EXPECT_EQ(to_json(object), R"({"request":1,"result":true})");
}

}  // namespace
}  // namespace qm
