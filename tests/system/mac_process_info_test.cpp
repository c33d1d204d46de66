#include "system/mac_process_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

namespace qm {
namespace {

template <std::size_t N>
void fill(std::array<char, N>& field, std::string_view text) {
  field.fill('\0');
  std::copy_n(text.begin(), std::min(text.size(), N), field.begin());
}

// proc_bsdinfo and proc_taskinfo as libproc fills them for a running user process.
MacProcessFacts running_process() {
  MacProcessFacts facts;
  facts.bsd.pbi_status = 2;  // SRUN
  facts.bsd.pbi_pid = 812;
  facts.bsd.pbi_ppid = 1;
  facts.bsd.pbi_ruid = 501;
  fill(facts.bsd.pbi_comm, "Google Chrome H");
  fill(facts.bsd.pbi_name, "Google Chrome Helper (Renderer)");
  facts.bsd.pbi_start_tvsec = 1'733'900'000;
  facts.bsd.pbi_start_tvusec = 250'001;
  facts.task = MacTaskInfo{350'000'000, 24'000'000, 12'000'000};
  facts.path = "/Applications/Google Chrome.app/Contents/Frameworks/Helper";
  return facts;
}

TEST(MacProcess, TakesEveryFactFromTheBsdAndTaskInfo) {
  const auto process = mac_process(running_process(), MachTimebase{125, 3});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->pid, 812u);
  EXPECT_EQ(process->parent, std::optional<Pid>(1));
  EXPECT_EQ(process->name, "Google Chrome Helper (Renderer)");
  EXPECT_EQ(process->path, running_process().path);
  EXPECT_EQ(process->user_id, std::optional<std::uint32_t>(501));
  EXPECT_EQ(process->start_time, 1'733'900'000u);
  EXPECT_EQ(process->start_stamp, 1'733'900'000'250'001u);  // microseconds
  EXPECT_EQ(process->memory, 350'000'000u);
  EXPECT_EQ(process->cpu_time_ns, 1'500'000'000u);  // 36M ticks of 125/3 ns, user plus system
  EXPECT_EQ(process->cpu_usage, 0.0f);
}

TEST(MacSameProcess, IsTheCheckedIdAliveWithTheSameStartToTheMicrosecond) {
  const Process checked = *mac_process(running_process(), MachTimebase{1, 1});
  auto now = [](auto change) {
    MacBsdInfo bsd = running_process().bsd;
    change(bsd);
    return std::optional<MacBsdInfo>(bsd);
  };
  struct Case {
    const char* description;
    std::optional<MacBsdInfo> now;
    bool same;
  };
  const std::vector<Case> cases = {
      {"unchanged", now([](MacBsdInfo&) {}), true},
      {"the id names no process", std::nullopt, false},
      {"ended, not yet reaped", now([](MacBsdInfo& b) { b.pbi_status = MacBsdInfo::kZombie; }), false},
      {"a new process in the same second", now([](MacBsdInfo& b) { b.pbi_start_tvusec += 1; }), false},
      {"a new process a second later", now([](MacBsdInfo& b) { b.pbi_start_tvsec += 1; }), false},
      {"facts of another id", now([](MacBsdInfo& b) { b.pbi_pid += 1; }), false},
  };
  for (const Case& c : cases) EXPECT_EQ(mac_is_same_process(c.now, checked), c.same) << c.description;
}

TEST(MacProcess, AStartTimeBeyondMicrosecondsSaturates) {
  MacBsdInfo bsd;
  bsd.pbi_start_tvsec = UINT64_MAX / 1000;
  EXPECT_EQ(mac_start_stamp(bsd), UINT64_MAX);
}

TEST(MacProcess, TaskTimesAreNanosecondsOnIntel) {
  const auto process = mac_process(running_process(), MachTimebase{1, 1});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->cpu_time_ns, 36'000'000u);
}

TEST(MacProcess, ParentZeroIsNoParent) {
  MacProcessFacts launchd = running_process();
  launchd.bsd.pbi_pid = 1;
  launchd.bsd.pbi_ppid = 0;
  launchd.bsd.pbi_ruid = 0;
  const auto process = mac_process(launchd, MachTimebase{});
  ASSERT_TRUE(process);
  EXPECT_FALSE(process->parent);
  EXPECT_EQ(process->user_id, std::optional<std::uint32_t>(0));  // root is a user id, not none
}

TEST(MacProcess, AZombieIsNotAdded) {
  MacProcessFacts zombie = running_process();
  zombie.bsd.pbi_status = MacBsdInfo::kZombie;
  zombie.task.reset();
  EXPECT_FALSE(mac_process(zombie, MachTimebase{}));
}

TEST(MacProcess, WithoutTaskInfoMemoryAndCpuTimeAreZero) {
  // Another user's process: its task information may not be read, but it is listed.
  MacProcessFacts other = running_process();
  other.task.reset();
  other.path.reset();
  const auto process = mac_process(other, MachTimebase{125, 3});
  ASSERT_TRUE(process);
  EXPECT_EQ(process->memory, 0u);
  EXPECT_EQ(process->cpu_time_ns, 0u);
  EXPECT_FALSE(process->path);
}

struct NameCase {
  const char* description;
  std::string_view comm;  // bytes, may fill the whole array
  std::string_view name;
  std::string_view expected;
};

TEST(MacProcessName, PrefersTheRegisteredNameOverTheCommand) {
  const std::vector<NameCase> cases = {
      {"a registered name wins", "mds_stores", "mds_stores_helper", "mds_stores_helper"},
      {"an empty name falls back to the command", "kernel_task", "", "kernel_task"},
      {"a command that fills its array has no NUL", "abcdefghijklmnop", "", "abcdefghijklmnop"},
      {"a name that fills its array has no NUL", "x", "0123456789abcdef0123456789abcdef",
       "0123456789abcdef0123456789abcdef"},
      {"bytes after the NUL are not part of the name", "cmd", std::string_view("app\0old", 7), "app"},
      {"both empty give an empty name", "", "", ""},
  };
  for (const auto& c : cases) {
    MacBsdInfo bsd;
    fill(bsd.pbi_comm, c.comm);
    fill(bsd.pbi_name, c.name);
    EXPECT_EQ(mac_process_name(bsd), c.expected) << c.description;
  }
}

}  // namespace
}  // namespace qm
