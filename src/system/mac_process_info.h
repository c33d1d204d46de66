#pragma once
// One process record from what libproc reports about it: proc_pidinfo with
// PROC_PIDTBSDINFO (proc_bsdinfo) and PROC_PIDTASKINFO (proc_taskinfo), and
// proc_pidpath. The structs copy the fields the engine uses, with the names
// and widths of the macOS structures, so the rules are tested with fixtures.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "system/mach_counters.h"
#include "system/process_table.h"

namespace qm {

struct MacBsdInfo {
  static constexpr std::size_t kCommandLength = 16;  // MAXCOMLEN
  static constexpr std::uint32_t kZombie = 5;        // SZOMB, a pbi_status value
  std::uint32_t pbi_status = 0;
  std::uint32_t pbi_pid = 0;
  std::uint32_t pbi_ppid = 0;
  std::uint32_t pbi_ruid = 0;
  std::array<char, kCommandLength> pbi_comm{};       // executable name, cut to 16 bytes
  std::array<char, 2 * kCommandLength> pbi_name{};   // the name the process gave itself; may be empty
  std::uint64_t pbi_start_tvsec = 0;
  std::uint64_t pbi_start_tvusec = 0;
};

struct MacTaskInfo {
  std::uint64_t pti_resident_size = 0;  // bytes
  std::uint64_t pti_total_user = 0;     // Mach absolute time units, exited threads included
  std::uint64_t pti_total_system = 0;
};

// Everything read about one process. task is nullopt when the task information
// may not be read (another user's process, for a user who is not root).
struct MacProcessFacts {
  MacBsdInfo bsd;
  std::optional<MacTaskInfo> task;
  std::optional<std::string> path;  // proc_pidpath, bytes
};

// The name to show: pbi_name when the process has one (it is longer and is what
// the process calls itself), else pbi_comm; each up to its first NUL, and never
// past the end of its array.
std::string_view mac_process_name(const MacBsdInfo& bsd);

// The start time in microseconds since the epoch: the process's start_stamp.
std::uint64_t mac_start_stamp(const MacBsdInfo& bsd);

// True when `now`, what libproc tells about checked.pid at this moment (nullopt:
// nothing, the id names no process), is still the checked process: alive (not
// a zombie) and started at the same microsecond. A process given the id since
// started later.
bool mac_is_same_process(const std::optional<MacBsdInfo>& now, const Process& checked);

// The record for the facts, or nullopt for a process that has exited (a
// zombie). Without task information the resident memory and CPU time are 0.
// The parent id 0 (launchd's and the kernel's) becomes none; cpu_usage is
// left 0 for the snapshot to work out.
std::optional<Process> mac_process(const MacProcessFacts& facts, MachTimebase timebase);

}  // namespace qm
