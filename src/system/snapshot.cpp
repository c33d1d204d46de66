#include "system/snapshot.h"

#include <algorithm>

#include "common/saturating.h"

namespace qm {

float global_cpu_usage(const std::vector<CpuTicks>& before, const std::vector<CpuTicks>& after) {
  const std::size_t cpus = std::min(before.size(), after.size());
  if (cpus == 0) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < cpus; ++i) {
    const std::uint64_t busy = saturating_sub(after[i].busy, before[i].busy);
    const std::uint64_t total = saturating_sub(after[i].total, before[i].total);
    if (total != 0) sum += static_cast<double>(busy) / static_cast<double>(total);
  }
  return static_cast<float>(sum / static_cast<double>(cpus) * 100.0);
}

float process_cpu_usage(std::uint64_t cpu_ns_before, std::uint64_t cpu_ns_after, std::uint64_t elapsed_ns) {
  if (elapsed_ns == 0) return 0;
  const std::uint64_t used = saturating_sub(cpu_ns_after, cpu_ns_before);
  return static_cast<float>(static_cast<double>(used) / static_cast<double>(elapsed_ns) * 100.0);
}

void apply_reading(System& system, SystemReading reading) {
  // A reading the clock failed for cannot time anything.
  const bool timed = reading.taken_at_ns != 0 && system.sampled_at_ns != 0;
  const std::uint64_t elapsed_ns = timed ? saturating_sub(reading.taken_at_ns, system.sampled_at_ns) : 0;
  for (Process& process : reading.processes) {
    const Process* earlier = system.processes.find(process.pid);
    if (earlier && earlier->start_time == process.start_time) {
      process.cpu_usage = process_cpu_usage(earlier->cpu_time_ns, process.cpu_time_ns, elapsed_ns);
    } else {
      process.cpu_usage = 0;
    }
  }

  ProcessTable fresh(std::move(reading.processes));
  for (const Process& earlier : system.processes) {
    if (!fresh.find(earlier.pid)) fresh.insert(earlier);  // exited: keeps its last figures
  }

  system.cpu_usage = global_cpu_usage(system.cpu_ticks, reading.cpu_ticks);
  system.total_memory = reading.total_memory;
  system.used_memory = reading.used_memory;
  system.processes = std::move(fresh);
  system.cpu_ticks = std::move(reading.cpu_ticks);
  system.sampled_at_ns = reading.taken_at_ns;
}

}  // namespace qm
