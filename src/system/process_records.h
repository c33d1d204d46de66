#pragma once
// Turns a snapshot's process table into the process members of the "system"
// reply, and owns the rule that marks a process as a system process (which
// "terminate" applies too).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "system/process_table.h"

namespace qm {

inline constexpr std::size_t kMaxProcessRecords = 200;

// A system process: id below 5, or either user id unknown, or the ids differ.
bool is_system_process(Pid pid, std::optional<std::uint32_t> process_user_id,
                       std::optional<std::uint32_t> own_user_id);

struct ProcessRecord {
  Pid pid = 0;
  std::string name;     // text (invalid UTF-8 replaced)
  std::string command;  // text; "" without an executable path
  float cpu_percent = 0;
  std::uint64_t memory_bytes = 0;
  double memory_percent = 0;  // memory / total * 100, total 0 counted as 1
  bool is_system = false;
};

ProcessRecord make_process_record(const Process& process, std::uint64_t total_memory,
                                  std::optional<std::uint32_t> own_user_id);

// One record per process in table order, stably sorted by memory (largest
// first) and cut to kMaxProcessRecords.
std::vector<ProcessRecord> ranked_process_records(const ProcessTable& table, std::uint64_t total_memory,
                                                  std::optional<std::uint32_t> own_user_id);

}  // namespace qm
