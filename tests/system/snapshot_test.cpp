#include "system/snapshot.h"

#include <gtest/gtest.h>

#include "system/fake_system_provider.h"

namespace qm {
namespace {

using test::make_process;

constexpr std::uint64_t kSecond = 1'000'000'000;

Process with_cpu_time(Process process, std::uint64_t cpu_time_ns) {
  process.cpu_time_ns = cpu_time_ns;
  return process;
}

std::vector<Pid> pids_of(const ProcessTable& table) {
  std::vector<Pid> pids;
  for (const Process& process : table) pids.push_back(process.pid);
  return pids;
}

TEST(ProcessTable, KeepsIdsAscendingAndUniqueWhateverTheInputOrder) {
  Process replaced = make_process(20, 1);
  Process replacement = make_process(20, 2);
  ProcessTable table({make_process(30, 1), replaced, make_process(10, 1), replacement});
  EXPECT_EQ(pids_of(table), (std::vector<Pid>{10, 20, 30}));
  ASSERT_NE(table.find(20), nullptr);
  EXPECT_EQ(table.find(20)->memory, 2u);  // the later one of a repeated id wins
  EXPECT_EQ(table.find(25), nullptr);

  table.insert(make_process(25, 9));
  table.insert(make_process(5, 9));
  table.insert(make_process(30, 9));
  EXPECT_EQ(pids_of(table), (std::vector<Pid>{5, 10, 20, 25, 30}));
  EXPECT_EQ(table.find(30)->memory, 9u);
}

struct GlobalCpuCase {
  const char* description;
  std::vector<CpuTicks> before;
  std::vector<CpuTicks> after;
  float expected;
};

TEST(GlobalCpuUsage, IsTheMeanOfEachCpusBusyShare) {
  const std::vector<GlobalCpuCase> cases = {
      {"no earlier reading", {}, {{50, 100}}, 0.0f},
      {"one CPU half busy", {{0, 0}}, {{50, 100}}, 50.0f},
      {"busy and idle CPU", {{10, 10}, {10, 10}}, {{110, 110}, {10, 110}}, 50.0f},
      // Mean of shares, not share of sums: 100% and 0% of very different tick counts.
      {"mean of shares", {{0, 0}, {0, 0}}, {{10, 10}, {0, 90}}, 50.0f},
      {"a CPU whose ticks did not move is idle", {{0, 0}, {5, 5}}, {{100, 100}, {5, 5}}, 50.0f},
      {"counters that went backwards count as idle", {{100, 200}}, {{50, 100}}, 0.0f},
      {"a CPU that went away is left out", {{0, 0}, {0, 0}}, {{30, 100}}, 30.0f},
  };
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(global_cpu_usage(c.before, c.after), c.expected) << c.description;
  }
}

TEST(ProcessCpuUsage, IsCpuTimeOverElapsedTimeInPercentOfOneCpu) {
  EXPECT_FLOAT_EQ(process_cpu_usage(0, kSecond / 2, kSecond), 50.0f);
  EXPECT_FLOAT_EQ(process_cpu_usage(kSecond, 4 * kSecond, kSecond), 300.0f);  // three CPUs busy
  EXPECT_FLOAT_EQ(process_cpu_usage(5, 5, kSecond), 0.0f);
  EXPECT_FLOAT_EQ(process_cpu_usage(0, kSecond, 0), 0.0f);  // no time passed: not NaN or infinity
}

TEST(ApplyReading, FirstReadingGivesEveryProcessZeroCpu) {
  System system;
  SystemReading reading;
  reading.total_memory = 1000;
  reading.used_memory = 400;
  reading.cpu_ticks = {{10, 20}};
  reading.processes = {with_cpu_time(make_process(20, 1), 5 * kSecond), with_cpu_time(make_process(10, 1), kSecond)};
  reading.taken_at_ns = 7 * kSecond;
  apply_reading(system, std::move(reading));

  EXPECT_EQ(pids_of(system.processes), (std::vector<Pid>{10, 20}));
  for (const Process& process : system.processes) EXPECT_EQ(process.cpu_usage, 0.0f) << process.pid;
  EXPECT_EQ(system.cpu_usage, 0.0f);
  EXPECT_EQ(system.total_memory, 1000u);
  EXPECT_EQ(system.used_memory, 400u);
  EXPECT_EQ(system.sampled_at_ns, 7 * kSecond);
}

TEST(ApplyReading, SecondReadingGivesRatesNewcomersZeroAndKeepsExitedProcesses) {
  System system;
  SystemReading first;
  first.cpu_ticks = {{0, 0}, {0, 0}};
  Process exiting = with_cpu_time(make_process(30, 777), kSecond);
  first.processes = {with_cpu_time(make_process(10, 1), kSecond), with_cpu_time(make_process(20, 1, 501, {}, 1000), 0),
                     exiting};
  first.taken_at_ns = kSecond;
  apply_reading(system, std::move(first));
  system.processes.find(30)->cpu_usage = 12.5f;  // figures it had when last seen

  SystemReading second;
  second.cpu_ticks = {{25, 100}, {75, 100}};
  second.processes = {
      with_cpu_time(make_process(10, 2), kSecond + kSecond / 4),      // a quarter CPU over one second
      with_cpu_time(make_process(20, 1, 501, {}, 2000), 9 * kSecond),  // id reused by a new process
      with_cpu_time(make_process(40, 1), 3 * kSecond),                 // first seen now
  };
  second.taken_at_ns = 2 * kSecond;
  apply_reading(system, std::move(second));

  EXPECT_EQ(pids_of(system.processes), (std::vector<Pid>{10, 20, 30, 40}));
  EXPECT_FLOAT_EQ(system.processes.find(10)->cpu_usage, 25.0f);
  EXPECT_EQ(system.processes.find(10)->memory, 2u);
  EXPECT_EQ(system.processes.find(20)->cpu_usage, 0.0f);
  EXPECT_EQ(system.processes.find(20)->start_time, 2000u);
  EXPECT_EQ(system.processes.find(30)->cpu_usage, 12.5f);
  EXPECT_EQ(system.processes.find(30)->memory, 777u);
  EXPECT_EQ(system.processes.find(40)->cpu_usage, 0.0f);
  EXPECT_FLOAT_EQ(system.cpu_usage, 50.0f);
}

TEST(ApplyReading, AReadingWithoutAClockTimeGivesNoProcessARate) {
  // One reading each side of a failed clock: the time between them is unknown.
  for (const bool first_timed : {false, true}) {
    System system;
    SystemReading first;
    first.processes = {with_cpu_time(make_process(10, 1), kSecond)};
    first.taken_at_ns = first_timed ? 5 * kSecond : 0;
    apply_reading(system, std::move(first));
    SystemReading second;
    second.processes = {with_cpu_time(make_process(10, 1), 2 * kSecond)};
    second.taken_at_ns = first_timed ? 0 : 6 * kSecond;
    apply_reading(system, std::move(second));
    EXPECT_EQ(system.processes.find(10)->cpu_usage, 0.0f) << first_timed;
  }
}

}  // namespace
}  // namespace qm
