#pragma once
// "system": a snapshot of the machine, sampled twice so CPU figures are rates.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "system/process_records.h"
#include "system/system_info_provider.h"

namespace qm {

inline constexpr std::chrono::nanoseconds kSystemSamplingPause = std::chrono::milliseconds(220);

struct SystemReport {
  float cpu_usage = 0;  // of the final sampling interval
  std::vector<Disk> disks;
  std::optional<std::string> host_name;   // bytes
  std::optional<std::string> os_version;  // bytes
  ProcessTable processes;                 // every process, for names and commands
  std::vector<ProcessRecord> top_processes;  // ranked, at most kMaxProcessRecords
  std::uint64_t total_memory = 0;
  std::uint64_t used_memory = 0;
};

// Refreshes a new snapshot, pauses kSystemSamplingPause, refreshes again, then
// lists the volumes and ranks the processes (the engine's own user decides
// which are system processes).
SystemReport take_system_report(SystemInfoProvider& provider);

}  // namespace qm
