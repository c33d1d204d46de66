#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "system/fake_system_provider.h"
#include "protocol/json_writer.h"
#include "app/commands.h"
#include "system/system_report.h"
#include "system/terminate_process.h"

namespace qm {
namespace {

using test::FakeSystemProvider;
using test::make_process;
using test::make_system;

const JsonValue& member(const JsonValue& object, std::string_view key) {
  static const JsonValue missing{};
  const JsonValue* found = object.as_object().find(key);
  return found ? *found : missing;
}

std::vector<std::string> keys_of(const JsonValue& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.as_object()) keys.push_back(key);
  return keys;
}

// Three states: what new_all, the first refresh and the final refresh return.
FakeSystemProvider provider_with_final(System final_state) {
  FakeSystemProvider provider;
  provider.states.push_back(make_system({make_process(100, 1), make_process(555, 1)}));
  provider.states.push_back(make_system({make_process(100, 2), make_process(556, 2)}));
  provider.states.push_back(std::move(final_state));
  return provider;
}

TEST(SystemCommand, CpuFiguresAreRatesOverTheFixedSamplingInterval) {
  System final_state = make_system({make_process(100, 3)});
  final_state.cpu_usage = 37.5f;
  final_state.processes.find(100)->cpu_usage = 12.5f;
  FakeSystemProvider provider = provider_with_final(std::move(final_state));
  const CommandResult result = system_command(provider);
  ASSERT_TRUE(result.ok());
  // The figures are those of the last refresh, taken 220 ms after the one before it.
  ASSERT_EQ(provider.refreshed.size(), 2u);
  EXPECT_EQ(provider.refreshed[1] - provider.refreshed[0], std::chrono::milliseconds(220));
  EXPECT_EQ(member(*result, "cpu"), JsonValue(37.5));
  EXPECT_EQ(member(member(*result, "processes").as_array()[0], "cpuPercent"), JsonValue(12.5));
}

TEST(SystemCommand, AnswersWithTheNineMembersFromTheFinalState) {
  System final_state = make_system({make_process(100, 300), make_process(7, 100, 0), make_process(42, 200)}, 1000);
  final_state.used_memory = 600;
  final_state.cpu_usage = 0.1f;
  final_state.processes.find(42)->path.reset();
  FakeSystemProvider provider = provider_with_final(std::move(final_state));
  provider.disks = {Disk{"/", 1000, 250}, Disk{"/Volumes/Backup", 5000, 4000}};

  const CommandResult result = system_command(provider);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(to_json(*result),
            R"({"cpu":0.10000000149011612,)"
            R"("disks":[{"free":250,"mount":"/","total":1000},{"free":4000,"mount":"/Volumes/Backup","total":5000}],)"
            R"("hostname":"host","osVersion":"OS 1.0",)"
            R"("processCommands":["/usr/bin/proc7","/usr/bin/proc100"],)"
            R"("processNames":["proc7","proc42","proc100"],)"
            R"("processes":[)"
            R"({"command":"/usr/bin/proc100","cpuPercent":0.0,"isSystem":false,"memoryBytes":300,"memoryPercent":30.0,"name":"proc100","pid":100},)"
            R"({"command":"","cpuPercent":0.0,"isSystem":false,"memoryBytes":200,"memoryPercent":20.0,"name":"proc42","pid":42},)"
            R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":true,"memoryBytes":100,"memoryPercent":10.0,"name":"proc7","pid":7}],)"
            R"("totalMemory":1000,"usedMemory":600})");
}

struct OwnUserCase {
  const char* description;
  std::vector<Process> processes;
};

TEST(SystemCommand, WithoutTheOwnUserIdEveryProcessIsASystemProcess) {
  const std::vector<OwnUserCase> cases = {
      {"own process missing from the table", {make_process(200, 1), make_process(300, 2)}},
      {"own process without a user id", {make_process(100, 5, std::nullopt), make_process(300, 2)}},
  };
  for (const auto& c : cases) {
    FakeSystemProvider provider = provider_with_final(make_system(c.processes));
    const CommandResult result = system_command(provider);
    ASSERT_TRUE(result.ok()) << c.description;
    const JsonArray& records = member(*result, "processes").as_array();
    ASSERT_EQ(records.size(), c.processes.size()) << c.description;
    for (const JsonValue& record : records) {
      EXPECT_EQ(member(record, "isSystem"), JsonValue(true)) << c.description << " pid " << to_json(member(record, "pid"));
    }
  }
}

TEST(SystemCommand, MissingHostAndOsAndNonFiniteCpuBecomeNull) {
  System final_state = make_system({make_process(100, 1)});
  final_state.cpu_usage = std::numeric_limits<float>::quiet_NaN();
  FakeSystemProvider provider = provider_with_final(std::move(final_state));
  provider.host.reset();
  provider.os.reset();
  const CommandResult result = system_command(provider);
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(member(*result, "cpu").is_null());
  EXPECT_TRUE(member(*result, "hostname").is_null());
  EXPECT_TRUE(member(*result, "osVersion").is_null());
  EXPECT_EQ(keys_of(*result).size(), 9u);
}

TEST(SystemCommand, PlatformTextThatIsNotUtf8IsWrittenWithReplacements) {
  FakeSystemProvider provider = provider_with_final(make_system({make_process(100, 1)}));
  provider.host = "box\xFF";
  provider.os = "Linux \xC3(";
  const CommandResult result = system_command(provider);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(member(*result, "hostname").as_string(), "box\xEF\xBF\xBD");
  EXPECT_EQ(member(*result, "osVersion").as_string(), "Linux \xEF\xBF\xBD(");
}

TEST(SystemCommand, KeepsTheTwoHundredLargestButNamesEveryProcess) {
  std::vector<Process> processes;
  for (Pid pid = 5; pid < 305; ++pid) processes.push_back(make_process(pid, pid));
  FakeSystemProvider provider = provider_with_final(make_system(std::move(processes)));
  const CommandResult result = system_command(provider);
  ASSERT_TRUE(result.ok());
  const JsonArray& records = member(*result, "processes").as_array();
  ASSERT_EQ(records.size(), 200u);
  EXPECT_EQ(member(records.front(), "pid"), JsonValue(304u));
  EXPECT_EQ(member(records.back(), "pid"), JsonValue(105u));
  EXPECT_EQ(member(*result, "processNames").as_array().size(), 300u);
  EXPECT_EQ(member(*result, "processCommands").as_array().size(), 300u);
}

// The real machine, through the Linux provider.

TEST(SystemCommandOnThisMachine, TakesAtLeastThePauseAndAnswersWithMembersOfTheRightTypes) {
  const auto started = std::chrono::steady_clock::now();
  const CommandResult result = system_command(*make_platform_system_info_provider());
  const auto elapsed = std::chrono::steady_clock::now() - started;
  ASSERT_TRUE(result.ok());
  EXPECT_GE(elapsed, std::chrono::milliseconds(220));

  const JsonValue& reply = *result;
  EXPECT_EQ(keys_of(reply), (std::vector<std::string>{"cpu", "disks", "hostname", "osVersion", "processCommands",
                                                      "processNames", "processes", "totalMemory", "usedMemory"}));
  EXPECT_TRUE(member(reply, "cpu").is_number());
  EXPECT_TRUE(member(reply, "hostname").is_string() || member(reply, "hostname").is_null());
  EXPECT_TRUE(member(reply, "osVersion").is_string() || member(reply, "osVersion").is_null());
  ASSERT_TRUE(member(reply, "totalMemory").is_unsigned());
  ASSERT_TRUE(member(reply, "usedMemory").is_unsigned());
  EXPECT_GT(member(reply, "totalMemory").as_unsigned(), 0u);
  EXPECT_LE(member(reply, "usedMemory").as_unsigned(), member(reply, "totalMemory").as_unsigned());

  const JsonArray& records = member(reply, "processes").as_array();
  ASSERT_FALSE(records.empty());
  EXPECT_LE(records.size(), 200u);
  std::uint64_t previous_memory = UINT64_MAX;
  bool own_record_seen = false;
  for (const JsonValue& record : records) {
    EXPECT_EQ(keys_of(record), (std::vector<std::string>{"command", "cpuPercent", "isSystem", "memoryBytes",
                                                         "memoryPercent", "name", "pid"}));
    EXPECT_TRUE(member(record, "command").is_string());
    EXPECT_TRUE(member(record, "cpuPercent").is_number());
    EXPECT_TRUE(member(record, "isSystem").is_bool());
    EXPECT_TRUE(member(record, "memoryPercent").is_number());
    EXPECT_TRUE(member(record, "name").is_string());
    ASSERT_TRUE(member(record, "memoryBytes").is_unsigned());
    EXPECT_LE(member(record, "memoryBytes").as_unsigned(), previous_memory);
    previous_memory = member(record, "memoryBytes").as_unsigned();
    if (member(record, "pid") == JsonValue(static_cast<unsigned>(getpid()))) {
      own_record_seen = true;
      EXPECT_EQ(member(record, "isSystem"), JsonValue(false));
    }
  }
  const JsonArray& names = member(reply, "processNames").as_array();
  EXPECT_GE(names.size(), records.size());
  // Below the cut every process has a record, this one included.
  if (names.size() < 200) {
    EXPECT_TRUE(own_record_seen);
  }
  EXPECT_NE(std::find(names.begin(), names.end(), JsonValue("app_tests")), names.end());
  for (const JsonValue& disk : member(reply, "disks").as_array()) {
    EXPECT_TRUE(member(disk, "mount").is_string());
    EXPECT_TRUE(member(disk, "free").is_unsigned());
    EXPECT_TRUE(member(disk, "total").is_unsigned());
  }
}

}  // namespace
}  // namespace qm
