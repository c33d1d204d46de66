#include "system/process_records.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <limits>

#include "system/fake_system_provider.h"

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

// Processes with pids first, first + 1, ... and the memory memory_of(pid) gives.
std::vector<Process> processes(Pid first, std::size_t count, const std::function<std::uint64_t(Pid)>& memory_of) {
  std::vector<Process> out;
  for (std::size_t i = 0; i < count; ++i) out.push_back(make_process(Pid(first + i), memory_of(Pid(first + i))));
  return out;
}

// Pids from first up to last (inclusive), or down when last is smaller.
std::vector<Pid> pid_run(Pid first, Pid last) {
  std::vector<Pid> pids;
  for (Pid pid = first;; pid = first < last ? pid + 1 : pid - 1) {
    pids.push_back(pid);
    if (pid == last) return pids;
  }
}

std::vector<Pid> joined(std::initializer_list<std::vector<Pid>> runs) {
  std::vector<Pid> pids;
  for (const auto& run : runs) pids.insert(pids.end(), run.begin(), run.end());
  return pids;
}

// (pid * 7919) % 3 spreads memory 0, 1000 and 2000 over the pids without following their order.
std::vector<Pid> pids_with(std::uint64_t memory, Pid first, Pid last) {
  std::vector<Pid> pids;
  for (Pid pid = first; pid <= last; ++pid) {
    if ((pid * 7919) % 3 * 1000 == memory) pids.push_back(pid);
  }
  return pids;
}

struct RankingCase {
  const char* description;
  std::vector<Process> table;  // in any order; the table sorts by pid
  std::vector<Pid> expected;   // the records' pids, in ranking order
};

void PrintTo(const RankingCase& c, std::ostream* out) { *out << c.description; }

class Ranking : public ::testing::TestWithParam<RankingCase> {};

TEST_P(Ranking, IsLargestMemoryFirstKeepingTableOrderAmongEqualsAndCutAtTwoHundred) {
  const auto records = ranked_process_records(ProcessTable(GetParam().table), 1 << 20, 501);
  std::vector<Pid> order;
  for (const auto& record : records) order.push_back(record.pid);
  EXPECT_EQ(order, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, Ranking,
    ::testing::Values(
        RankingCase{"equal memory keeps table order after the largest",
                    {make_process(30, 100), make_process(10, 100), make_process(20, 500), make_process(40, 100),
                     make_process(50, 7)},
                    {20, 10, 30, 40, 50}},
        // Enough records that an unstable sort would reorder equal ones.
        RankingCase{"ranking is stable across a whole table",
                    processes(5, 180, [](Pid pid) { return std::uint64_t{(pid * 7919) % 3 * 1000}; }),
                    joined({pids_with(2000, 5, 184), pids_with(1000, 5, 184), pids_with(0, 5, 184)})},
        // Memory grows with the pid, so the smallest process is the first in table order.
        RankingCase{"199 processes are all kept", processes(10, 199, [](Pid pid) { return 990u + pid; }),
                    pid_run(208, 10)},
        RankingCase{"200 processes are all kept", processes(10, 200, [](Pid pid) { return 990u + pid; }),
                    pid_run(209, 10)},
        RankingCase{"of 201 processes the one with the least memory is dropped",
                    processes(10, 201, [](Pid pid) { return 990u + pid; }), pid_run(210, 11)},
        RankingCase{"equal memory beyond the cut drops the last in table order",
                    processes(10, 201, [](Pid) { return 4096u; }), pid_run(10, 209)}),
    [](const auto& param) {
      std::string name = param.param.description;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST(ProcessRecords, MemoryPercentDividesBeforeScaling) {
  // 1/3*100 and 1*100/3 differ in the last digit; the quotient comes first.
  const ProcessRecord record = make_process_record(make_process(7, 1), 3, 501);
  EXPECT_EQ(record.memory_percent, 1.0 / 3.0 * 100.0);
  EXPECT_NE(record.memory_percent, 100.0 / 3.0);
}

}  // namespace
}  // namespace qm
