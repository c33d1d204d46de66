// "system" and "terminate" through the real engine binary and its pipes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

#include <variant>

#include "protocol/request.h"
#include "support/engine_process.h"
#include "app/commands.h"
#include "system/system_report.h"
#include "system/terminate_process.h"

namespace qm {
namespace {

using test::EngineProcess;

// Parses a reply line by handing it to the request decoder as the "args" value.
JsonValue parse_reply(const std::string& line) {
  auto decoded = decode_request(R"({"request":0,"command":"parse","args":)" + line + "}");
  const Request* request = std::get_if<Request>(&decoded);
  return request ? request->args : JsonValue();
}

std::string error_reply(int request, const char* text) {
  return std::string(R"({"error":")") + text + R"(","request":)" + std::to_string(request) + "}";
}

TEST(EngineBinary, SystemIgnoresItsArgumentsAndMarksTheEngineAsNotSystem) {
  EngineProcess engine;
  const JsonValue reply = parse_reply(engine.request(R"({"request":7,"command":"system","args":{"pid":1,"x":[true]}})"));
  ASSERT_TRUE(reply.is_object());
  const JsonValue* result = reply.as_object().find("result");
  ASSERT_NE(result, nullptr) << "no result in the reply";
  ASSERT_EQ(result->as_object().size(), 9u);

  const JsonArray& names = result->as_object().find("processNames")->as_array();
  EXPECT_NE(std::find(names.begin(), names.end(), JsonValue("quillmarsh")), names.end());
  const JsonArray& records = result->as_object().find("processes")->as_array();
  const JsonValue* own = nullptr;
  for (const JsonValue& record : records) {
    if (*record.as_object().find("pid") == JsonValue(static_cast<unsigned>(engine.pid()))) own = &record;
  }
  if (names.size() < 200) {
    ASSERT_NE(own, nullptr) << "every process has a record below the cut";
  }
  if (own) {
    EXPECT_EQ(*own->as_object().find("isSystem"), JsonValue(false));
    EXPECT_EQ(*own->as_object().find("name"), JsonValue("quillmarsh"));
  }
  EXPECT_EQ(engine.finish(), 0);
}

TEST(EngineBinary, TerminateProtectsTheEngineItsParentAndLowIds) {
  EngineProcess engine;
  struct Case {
    std::string args;
    const char* error;
  };
  const std::vector<Case> cases = {
      {R"({"pid":)" + std::to_string(engine.pid()) + "}", kProtectedAncestorError},
      // The engine's parent is this test process, under the same user.
      {R"({"pid":)" + std::to_string(getpid()) + R"(,"force":true})", kProtectedAncestorError},
      // Beyond the largest process id: not cut to its low 32 bits (process 1).
      {R"({"pid":4294967297})", "Missing PID"},
      {R"({"pid":-5})", "Missing PID"},
  };
  int request = 1;
  for (const auto& c : cases) {
    const std::string line = R"({"request":)" + std::to_string(request) + R"(,"command":"terminate","args":)" + c.args + "}";
    EXPECT_EQ(engine.request(line), error_reply(request, c.error)) << c.args;
    ++request;
  }
  EXPECT_EQ(engine.finish(), 0);
}

TEST(EngineBinary, TerminateNeverCutsAPidDownToAnotherProcess) {
  // A process of this user that the engine may signal: 2^32 + its id used to reach it.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    for (;;) pause();
  }
  EngineProcess engine;
  const std::uint64_t wrapped = (std::uint64_t{1} << 32) + static_cast<std::uint64_t>(child);
  for (const std::uint64_t pid : {wrapped, (std::uint64_t{1} << 31) + static_cast<std::uint64_t>(child)}) {
    const std::string line = R"({"request":1,"command":"terminate","args":{"pid":)" + std::to_string(pid) + "}}";
    EXPECT_EQ(engine.request(line), error_reply(1, "Missing PID")) << pid;
  }
  siginfo_t info{};
  const bool running =
      waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_TRUE(running) << "the child was signalled";
  EXPECT_EQ(engine.finish(), 0);
}

}  // namespace
}  // namespace qm
