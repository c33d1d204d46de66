#pragma once
// Memory, CPU and time arithmetic over the counters macOS reports through
// host_statistics64, host_processor_info and mach_timebase_info. The structs
// copy the fields the engine uses from the Mach structures (same names, same
// widths), so the rules are tested with fixtures on any platform and the
// provider only copies fields over.
#include <array>
#include <cstdint>
#include <vector>

#include "system/system_info_provider.h"

namespace qm {

// The page counts of vm_statistics64 (HOST_VM_INFO64) that make up used memory.
struct MachVmStatistics {
  std::uint32_t active_count = 0;
  std::uint32_t wire_count = 0;
  std::uint32_t compressor_page_count = 0;  // pages holding compressed data
  std::uint32_t speculative_count = 0;
};

// Used memory: (active + wired + compressed + speculative) pages times the page
// size, saturating at 2^64 - 1.
std::uint64_t mach_used_memory(const MachVmStatistics& statistics, std::uint64_t page_size);

// processor_cpu_load_info of one logical CPU: 32-bit tick counters indexed by
// CPU_STATE_USER (0), CPU_STATE_SYSTEM (1), CPU_STATE_IDLE (2), CPU_STATE_NICE (3).
struct MachCpuLoad {
  static constexpr std::size_t kUser = 0, kSystem = 1, kIdle = 2, kNice = 3, kStates = 4;
  std::array<std::uint32_t, kStates> cpu_ticks{};
};

// The CPUs' ticks as the snapshot keeps them. The 32-bit counters wrap (after
// about 500 days of one state at 100 Hz); busy and total are carried on from the
// previous reading of the same CPU by the difference modulo 2^32, so that a
// wrap between two refreshes still gives the true tick counts between them.
// A CPU without an earlier reading (the first refresh, or one more CPU than
// before) starts from its raw sums.
std::vector<CpuTicks> mach_cpu_ticks(const std::vector<CpuTicks>& previous, const std::vector<MachCpuLoad>& loads);

// mach_timebase_info: Mach absolute time units times numer / denom are
// nanoseconds. 1/1 on Intel; 125/3 on Apple silicon, where task times
// (proc_taskinfo's pti_total_user and pti_total_system) are in these units.
struct MachTimebase {
  std::uint32_t numer = 1;
  std::uint32_t denom = 1;
};

// Mach absolute time units in nanoseconds, saturating; a zero numer or denom
// (an unread timebase) is taken as 1/1.
std::uint64_t mach_time_to_ns(std::uint64_t units, MachTimebase timebase);

}  // namespace qm
