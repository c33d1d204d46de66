#include "system/process_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fake_system_provider.h"
#include "protocol/json_writer.h"

namespace qm {
namespace {

using test::make_process;

struct SystemRuleCase {
  const char* description;
  Pid pid;
  std::optional<std::uint32_t> process_user;
  std::optional<std::uint32_t> own_user;
  bool expected;
};

TEST(SystemProcessRule, DecidesByIdThenByUserIds) {
  const std::vector<SystemRuleCase> cases = {
      {"pid 0 under the own user", 0, 501, 501, true},
      {"pid 1 under the own user", 1, 501, 501, true},
      {"pid 4 under the own user", 4, 501, 501, true},
      {"pid 5 under the own user", 5, 501, 501, false},
      {"another user", 500, 0, 501, true},
      {"no own user id", 500, 501, std::nullopt, true},
      {"process without a user id", 500, std::nullopt, 501, true},
      {"neither has a user id", 500, std::nullopt, std::nullopt, true},
      {"root engine and root process", 500, 0, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_system_process(c.pid, c.process_user, c.own_user), c.expected) << c.description;
  }
}

TEST(ProcessRecords, EqualMemoryKeepsTableOrderAfterTheLargest) {
  ProcessTable table({make_process(30, 100), make_process(10, 100), make_process(20, 500), make_process(40, 100),
                      make_process(50, 7)});
  const auto records = ranked_process_records(table, 1000, 501);
  std::vector<Pid> order;
  for (const auto& record : records) order.push_back(record.pid);
  EXPECT_EQ(order, (std::vector<Pid>{20, 10, 30, 40, 50}));
}

TEST(ProcessRecords, RankingIsStableAcrossAWholeTable) {
  // Enough records that an unstable sort would reorder equal ones.
  std::vector<Process> processes;
  for (Pid pid = 5; pid < 185; ++pid) processes.push_back(make_process(pid, (pid * 7919) % 3 * 1000));
  const auto records = ranked_process_records(ProcessTable(std::move(processes)), 1 << 20, 501);
  ASSERT_EQ(records.size(), 180u);
  for (std::size_t i = 1; i < records.size(); ++i) {
    const auto& before = records[i - 1];
    const auto& after = records[i];
    ASSERT_GE(before.memory_bytes, after.memory_bytes) << i;
    if (before.memory_bytes == after.memory_bytes) {
      EXPECT_LT(before.pid, after.pid) << i;
    }
  }
}

TEST(ProcessRecords, AreCutToTheTwoHundredLargest) {
  struct CutCase {
    std::size_t processes;
    std::size_t expected;
  };
  for (const CutCase c : {CutCase{199, 199}, CutCase{200, 200}, CutCase{201, 200}}) {
    std::vector<Process> processes;
    // Memory grows with the pid, so the smallest process is the first in table order.
    for (std::size_t i = 0; i < c.processes; ++i) processes.push_back(make_process(Pid(10 + i), 1000 + i));
    const auto records = ranked_process_records(ProcessTable(std::move(processes)), 1 << 20, 501);
    ASSERT_EQ(records.size(), c.expected) << c.processes << " processes";
    EXPECT_EQ(records.front().pid, Pid(10 + c.processes - 1));
    if (c.processes > 200) {
      // The one dropped is the one with the least memory.
      for (const auto& record : records) EXPECT_NE(record.pid, 10u);
    } else {
      EXPECT_EQ(records.back().pid, 10u);
    }
  }
}

TEST(ProcessRecords, EqualMemoryBeyondTheCutDropsTheLastInTableOrder) {
  std::vector<Process> processes;
  for (Pid pid = 10; pid < 211; ++pid) processes.push_back(make_process(pid, 4096));
  const auto records = ranked_process_records(ProcessTable(std::move(processes)), 1 << 20, 501);
  ASSERT_EQ(records.size(), 200u);
  EXPECT_EQ(records.front().pid, 10u);
  EXPECT_EQ(records.back().pid, 209u);
}

struct WrittenRecordCase {
  const char* description;
  Process process;
  std::uint64_t total_memory;
  std::optional<std::uint32_t> own_user;
  const char* json;
};

TEST(ProcessRecords, AreWrittenWithTheirSevenMembers) {
  auto with = [](Process process, auto change) {
    change(process);
    return process;
  };
  const std::vector<WrittenRecordCase> cases = {
      {"one byte of three: divided before it is scaled", make_process(7, 1), 3, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":false,"memoryBytes":1,)"
       R"("memoryPercent":33.33333333333333,"name":"proc7","pid":7})"},
      {"total memory 0 counts as 1", make_process(7, 5), 0, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":false,"memoryBytes":5,)"
       R"("memoryPercent":500.0,"name":"proc7","pid":7})"},
      {"float CPU figure widened without rounding",
       with(make_process(7, 0), [](Process& p) { p.cpu_usage = 0.1f; }), 100, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.10000000149011612,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"NaN CPU figure becomes null",
       with(make_process(7, 0), [](Process& p) { p.cpu_usage = std::numeric_limits<float>::quiet_NaN(); }), 100,
       501,
       R"({"command":"/usr/bin/proc7","cpuPercent":null,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"infinite CPU figure becomes null",
       with(make_process(7, 0), [](Process& p) { p.cpu_usage = std::numeric_limits<float>::infinity(); }), 100,
       501,
       R"({"command":"/usr/bin/proc7","cpuPercent":null,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"no executable path gives an empty command",
       with(make_process(7, 0), [](Process& p) { p.path.reset(); }), 100, 501,
       R"({"command":"","cpuPercent":0.0,"isSystem":false,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"invalid UTF-8 replaced by U+FFFD per maximal subpart",
       with(make_process(7, 0),
            [](Process& p) {
              p.name = "a\xE2\x82z\xFF";
              p.path = "/bin/\xC3";
            }),
       100, 501,
       "{\"command\":\"/bin/\xEF\xBF\xBD\",\"cpuPercent\":0.0,\"isSystem\":false,\"memoryBytes\":0,"
       "\"memoryPercent\":0.0,\"name\":\"a\xEF\xBF\xBDz\xEF\xBF\xBD\",\"pid\":7}"},
      {"another user's process is a system process", make_process(7, 0, 0), 100, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":true,"memoryBytes":0,)"
       R"("memoryPercent":0.0,"name":"proc7","pid":7})"},
      {"the largest memory figure stays exact", make_process(7, UINT64_MAX), UINT64_MAX, 501,
       R"({"command":"/usr/bin/proc7","cpuPercent":0.0,"isSystem":false,"memoryBytes":18446744073709551615,)"
       R"("memoryPercent":100.0,"name":"proc7","pid":7})"},
  };
  for (const auto& c : cases) {
    const ProcessRecord record = make_process_record(c.process, c.total_memory, c.own_user);
    EXPECT_EQ(to_json(process_record_json(record)), c.json) << c.description;
  }
}

TEST(ProcessRecords, MemoryPercentDividesBeforeScaling) {
  // 1/3*100 and 1*100/3 differ in the last digit; the quotient comes first.
  const ProcessRecord record = make_process_record(make_process(7, 1), 3, 501);
  EXPECT_EQ(record.memory_percent, 1.0 / 3.0 * 100.0);
  EXPECT_NE(record.memory_percent, 100.0 / 3.0);
}

TEST(ProcessLists, NamesCoverEveryProcessAndCommandsOnlyThoseWithAPath) {
  Process no_path = make_process(20, 1);
  no_path.path.reset();
  Process duplicate = make_process(30, 1);
  duplicate.name = "proc10";
  duplicate.path = "/usr/bin/proc10";
  Process bad_name = make_process(40, 1);
  bad_name.name = "x\x80";
  ProcessTable table({make_process(10, 1), no_path, duplicate, bad_name});

  EXPECT_EQ(to_json(process_names_json(table)), "[\"proc10\",\"proc20\",\"proc10\",\"x\xEF\xBF\xBD\"]");
  EXPECT_EQ(to_json(process_commands_json(table)),
            R"(["/usr/bin/proc10","/usr/bin/proc10","/usr/bin/proc40"])");
}

TEST(ProcessLists, AreNotCutAtTwoHundred) {
  std::vector<Process> processes;
  for (Pid pid = 10; pid < 260; ++pid) processes.push_back(make_process(pid, pid));
  ProcessTable table(std::move(processes));
  EXPECT_EQ(process_names_json(table).size(), 250u);
  EXPECT_EQ(process_commands_json(table).size(), 250u);
}

}  // namespace
}  // namespace qm
