#pragma once
// The process table of one snapshot: processes by id, kept in ascending id
// order in one flat vector (cheap to build, fast to look up, and the same
// iteration order every time).
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace qm {

using Pid = std::uint32_t;

// The largest id a process can have on any platform the engine runs on: the
// largest pid_t (32-bit signed there). A larger number names no process; cut
// to its low bits it would name another one, and kill() would read it as a
// process group.
inline constexpr Pid kLargestPid = static_cast<Pid>(std::numeric_limits<std::int32_t>::max());

struct Process {
  Pid pid = 0;
  std::optional<Pid> parent;               // none for the platform's parent id 0
  std::string name;                        // bytes as the platform gives them
  std::optional<std::string> path;         // executable path, bytes
  float cpu_usage = 0;                     // percent of one logical CPU
  std::uint64_t memory = 0;                // resident bytes
  std::optional<std::uint32_t> user_id;    // real user id
  std::uint64_t start_time = 0;            // seconds since the epoch
  // The start time as exactly as the platform keeps it (Linux: clock ticks since
  // boot; macOS: microseconds since the epoch). With the id it tells this
  // process from a later one that was given the same id.
  std::uint64_t start_stamp = 0;
  std::uint64_t cpu_time_ns = 0;           // CPU time used since it started (sampling state)
};

class ProcessTable {
 public:
  ProcessTable() = default;
  // Takes the processes in any order; keeps the last one of each id.
  explicit ProcessTable(std::vector<Process> processes);

  // Adds the process, replacing the one with the same id.
  void insert(Process process);
  const Process* find(Pid pid) const;
  Process* find(Pid pid);

  std::size_t size() const { return processes_.size(); }
  bool empty() const { return processes_.empty(); }
  auto begin() const { return processes_.begin(); }
  auto end() const { return processes_.end(); }
  const std::vector<Process>& processes() const { return processes_; }

 private:
  std::vector<Process> processes_;  // ascending pid, ids unique
};

}  // namespace qm
