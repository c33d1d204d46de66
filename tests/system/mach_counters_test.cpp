#include "system/mach_counters.h"

#include <gtest/gtest.h>

#include "system/snapshot.h"

namespace qm {
namespace {

MachCpuLoad load(std::uint32_t user, std::uint32_t system, std::uint32_t idle, std::uint32_t nice) {
  MachCpuLoad cpu;
  cpu.cpu_ticks = {user, system, idle, nice};  // CPU_STATE_USER, _SYSTEM, _IDLE, _NICE
  return cpu;
}

TEST(MachUsedMemory, CountsActiveWiredCompressedAndSpeculativePages) {
  MachVmStatistics vm;
  vm.active_count = 100;
  vm.wire_count = 20;
  vm.compressor_page_count = 3;
  vm.speculative_count = 4;
  EXPECT_EQ(mach_used_memory(vm, 16384), 127u * 16384);  // Apple silicon pages

  // Compressed pages alone still count: memory the compressor holds is in use.
  MachVmStatistics compressed;
  compressed.compressor_page_count = 0xFFFFFFFF;
  EXPECT_EQ(mach_used_memory(compressed, 4096), 0xFFFFFFFFull * 4096);

  MachVmStatistics all_full{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_EQ(mach_used_memory(all_full, 4096), 4 * 0xFFFFFFFFull * 4096);  // the sum does not wrap at 32 bits
  EXPECT_EQ(mach_used_memory(all_full, std::uint64_t{1} << 40), UINT64_MAX);
  EXPECT_EQ(mach_used_memory(vm, 0), 0u);
}

struct CpuRefreshCase {
  const char* description;
  std::vector<MachCpuLoad> first;
  std::vector<MachCpuLoad> second;
  float expected_usage;  // global usage between the two readings
};

TEST(MachCpuTicks, GiveTheMeanBusyShareBetweenTwoRefreshes) {
  constexpr std::uint32_t kNearWrap = 0xFFFFFFF0;  // 16 ticks before the 32-bit counter wraps
  const std::vector<CpuRefreshCase> cases = {
      {"user, system and nice are busy; idle is not",
       {load(0, 0, 0, 0)}, {load(10, 20, 60, 10)}, 40.0f},
      {"mean over CPUs of each one's share",
       {load(0, 0, 0, 0), load(0, 0, 0, 0)}, {load(100, 0, 0, 0), load(0, 0, 300, 0)}, 50.0f},
      {"a user counter that wraps between refreshes",
       {load(kNearWrap, 0, 0, 0)}, {load(14, 0, 30, 0)}, 50.0f},  // 30 busy ticks, 30 idle
      {"an idle counter that wraps",
       {load(5, 0, kNearWrap, 0)}, {load(25, 0, 4, 0)}, 50.0f},   // 20 busy, 20 idle
      {"the sum of the counters wraps while none of them does",
       {load(0x80000000, 0x7FFFFFF0, 0, 0)}, {load(0x80000008, 0x7FFFFFF8, 16, 0)}, 50.0f},
      {"no ticks at all between refreshes count as idle",
       {load(7, 7, 7, 7)}, {load(7, 7, 7, 7)}, 0.0f},
      {"a CPU that came online is left out of the mean",
       {load(0, 0, 0, 0)}, {load(30, 0, 70, 0), load(1000, 0, 0, 0)}, 30.0f},
      {"a CPU that went offline is left out of the mean",
       {load(0, 0, 0, 0), load(0, 0, 0, 0)}, {load(80, 0, 20, 0)}, 80.0f},
  };
  for (const auto& c : cases) {
    const std::vector<CpuTicks> first = mach_cpu_ticks({}, c.first);
    const std::vector<CpuTicks> second = mach_cpu_ticks(first, c.second);
    ASSERT_EQ(second.size(), c.second.size()) << c.description;
    EXPECT_FLOAT_EQ(global_cpu_usage(first, second), c.expected_usage) << c.description;
  }
}

TEST(MachCpuTicks, CarryOnAcrossManyWrapsWithoutLosingTicks) {
  // Three refreshes, each 2^31 busy ticks later: the carried counters keep
  // growing past 2^32 while the raw ones wrap.
  std::vector<CpuTicks> ticks = mach_cpu_ticks({}, {load(0, 0, 0, 0)});
  std::uint32_t user = 0;
  for (int refresh = 1; refresh <= 3; ++refresh) {
    user += 0x80000000u;
    ticks = mach_cpu_ticks(ticks, {load(user, 0, 0, 0)});
    ASSERT_EQ(ticks.size(), 1u);
    EXPECT_EQ(ticks[0].busy, static_cast<std::uint64_t>(refresh) * 0x80000000u);
    EXPECT_EQ(ticks[0].total, ticks[0].busy);
  }
}

TEST(MachCpuTicks, StartFromTheRawSumsWithoutAnEarlierReading) {
  const std::vector<CpuTicks> ticks = mach_cpu_ticks({}, {load(1, 2, 3, 4)});
  ASSERT_EQ(ticks.size(), 1u);
  EXPECT_EQ(ticks[0].busy, 7u);
  EXPECT_EQ(ticks[0].total, 10u);
  EXPECT_TRUE(mach_cpu_ticks(ticks, {}).empty());  // an unreadable CPU table
}

TEST(MachTimeToNs, ConvertsWithTheTimebase) {
  const MachTimebase intel{1, 1};
  const MachTimebase apple_silicon{125, 3};  // 24 MHz ticks
  EXPECT_EQ(mach_time_to_ns(123'456'789, intel), 123'456'789u);
  EXPECT_EQ(mach_time_to_ns(24'000'000, apple_silicon), 1'000'000'000u);  // one second
  EXPECT_EQ(mach_time_to_ns(1, apple_silicon), 41u);                     // 41.67 ns, rounded down
  EXPECT_EQ(mach_time_to_ns(4, apple_silicon), 166u);
  // Large counts are split before multiplying: 3 * 2^57 units times 125 would
  // overflow a plain product, though the result (125 * 2^57) fits.
  const std::uint64_t big = std::uint64_t{3} << 57;
  EXPECT_EQ(mach_time_to_ns(big, apple_silicon), (std::uint64_t{125} << 57));
  EXPECT_EQ(mach_time_to_ns(UINT64_MAX, apple_silicon), UINT64_MAX);
  EXPECT_EQ(mach_time_to_ns(77, MachTimebase{0, 0}), 77u);  // unread timebase
  EXPECT_EQ(mach_time_to_ns(77, MachTimebase{125, 0}), 77u);
}

TEST(MachTimeToNs, GivesPerProcessUsageInNanosecondsOnAppleSilicon) {
  // 220 ms apart, the process used 5,280,000 ticks of 41.67 ns: 220 ms, one full CPU.
  const MachTimebase apple_silicon{125, 3};
  const std::uint64_t before = mach_time_to_ns(24'000'000, apple_silicon);
  const std::uint64_t after = mach_time_to_ns(24'000'000 + 5'280'000, apple_silicon);
  EXPECT_FLOAT_EQ(process_cpu_usage(before, after, 220'000'000), 100.0f);
}

}  // namespace
}  // namespace qm
