// The real engine binary driven through its pipes.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "support/engine_process.h"

namespace qm {
namespace {

class ServeLoop : public ::testing::Test {
 protected:
  // A vanished engine must fail the test, not kill it with SIGPIPE.
  void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
};

std::vector<std::string> read_lines(test::EngineProcess& engine, std::size_t count) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i) {
    auto line = engine.read_line();
    if (!line) break;
    lines.push_back(*line);
  }
  return lines;
}

TEST_F(ServeLoop, AnswersEveryLineOnceInOrderAndExitsZeroAtEndOfInput) {
  test::EngineProcess engine;
  engine.send(
      "{\"request\":1,\"command\":\"nope\"}\n"
      "{\"request\":7}\n"
      "\n"
      "   \n"
      "{\"request\":2,\"command\":\"nope\"}\r\n"
      "\r\r\n"
      "{\"request\":0,\"command\":\"nope\"}\n"
      "{\"request\":18446744073709551615,\"command\":\"SCAN\"}\n"
      "{\"request\":1,\"command\":\"nope\"}\n"
      "[5,\"scan\"]\n"
      "{\"request\":3,\"command\":\"nope\"}");  // the last line has no line feed
  const std::vector<std::string> expected = {
      R"({"error":"Unknown command","request":1})",
      R"({"error":"missing field `command` at line 1 column 13"})",
      R"({"error":"EOF while parsing a value at line 1 column 0"})",
      R"({"error":"EOF while parsing a value at line 1 column 3"})",
      R"({"error":"Unknown command","request":2})",
      // Only the one carriage return before the line feed is removed.
      R"({"error":"EOF while parsing a value at line 1 column 1"})",
      R"({"error":"Unknown command","request":0})",
      R"({"error":"Unknown command","request":18446744073709551615})",
      R"({"error":"Unknown command","request":1})",
      R"({"error":"Missing root","request":5})",
  };
  EXPECT_EQ(read_lines(engine, expected.size()), expected);
  // The last line is known to be complete only when the input ends.
  EXPECT_EQ(engine.finish(), 0);
  EXPECT_EQ(engine.read_line(), R"({"error":"Unknown command","request":3})");
  EXPECT_EQ(engine.read_line(1000), std::nullopt);
}

TEST_F(ServeLoop, ALineThatIsNotUtf8EndsTheRunAfterEarlierLinesWereAnswered) {
  for (const std::string bad : {"\xff", "{\"request\":1,\"command\":\"\xc3\"}", "\xed\xa0\x80", "\xc0\xaf"}) {
    test::EngineProcess engine;
    engine.send("{\"request\":1,\"command\":\"a\"}\n{\"request\":2,\"command\":\"b\"}\n" + bad +
                "\n{\"request\":3,\"command\":\"c\"}\n");
    EXPECT_EQ(read_lines(engine, 2), (std::vector<std::string>{R"({"error":"Unknown command","request":1})",
                                                               R"({"error":"Unknown command","request":2})"}));
    // No reply for the bad line and none after it; the engine exits on its own.
    EXPECT_EQ(engine.read_line(), std::nullopt);
    EXPECT_EQ(engine.finish(), 0);
  }
}

TEST_F(ServeLoop, ALongLineIsServedWhole) {
  test::EngineProcess engine;
  const std::string big(3'000'000, 'x');
  EXPECT_EQ(engine.request(R"({"request":4,"command":"nope","args":{"blob":")" + big + R"("}})"),
            R"({"error":"Unknown command","request":4})");
  // A failure position deep inside a long line.
  EXPECT_EQ(engine.request(R"({"request":5,"command":")" + big + "\\q\"}"),
            R"({"error":"invalid escape at line 1 column )" + std::to_string(24 + big.size() + 2) + R"("})");
  EXPECT_EQ(engine.request(R"({"request":6,"command":"nope"})"), R"({"error":"Unknown command","request":6})");
  EXPECT_EQ(engine.finish(), 0);
}

TEST_F(ServeLoop, ClosingTheReaderOfStdoutDoesNotStopTheEngine) {
  test::EngineProcess engine;
  EXPECT_EQ(engine.request(R"({"request":1,"command":"nope"})"), R"({"error":"Unknown command","request":1})");
  engine.close_output();
  // Far more than a pipe holds: the engine must keep reading while its writes fail.
  std::string lines;
  for (int i = 0; i < 20000; ++i) lines += R"({"request":)" + std::to_string(i) + R"(,"command":"nope"})" "\n";
  engine.send(lines);
  EXPECT_EQ(engine.finish(), 0);
}

}  // namespace
}  // namespace qm
