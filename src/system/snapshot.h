#pragma once
// Turning raw readings of the platform's counters into a snapshot with rates.
// Every provider reads its platform into a SystemReading and folds it in here,
// so what "refresh" means is the same everywhere.
#include <cstdint>
#include <vector>

#include "system/system_info_provider.h"

namespace qm {

// One reading of the platform, before CPU rates are worked out.
struct SystemReading {
  std::uint64_t total_memory = 0;
  std::uint64_t used_memory = 0;
  std::vector<CpuTicks> cpu_ticks;  // per logical CPU
  std::vector<Process> processes;   // cpu_time_ns filled in, cpu_usage not yet
  std::uint64_t taken_at_ns = 0;    // monotonic clock; 0 when the clock could not be read
};

// Mean over logical CPUs of busy ticks / all ticks between the two readings, in
// percent; 0 without an earlier reading. A CPU whose ticks did not move counts as idle.
float global_cpu_usage(const std::vector<CpuTicks>& before, const std::vector<CpuTicks>& after);

// CPU time used over elapsed wall time, in percent of one CPU; 0 when no time passed.
float process_cpu_usage(std::uint64_t cpu_ns_before, std::uint64_t cpu_ns_after, std::uint64_t elapsed_ns);

// Folds a reading into system. A process seen before (same id and start time)
// gets its usage since the previous reading; a new one, or an id now used by a
// new process, gets 0; a process that is gone stays with its last figures.
// Without the clock time of both readings no process gets a rate.
void apply_reading(System& system, SystemReading reading);

}  // namespace qm
