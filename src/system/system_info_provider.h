#pragma once
// Everything the engine asks about the machine goes through SystemInfoProvider:
// memory, CPU load, the process table, host name, OS version, volumes and
// signal delivery. Commands take the provider by reference so tests can hand
// them a fake; each platform supplies one implementation in its own file.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/process_table.h"

namespace qm {

// Busy and total scheduler ticks of one logical CPU, as counted since boot.
struct CpuTicks {
  std::uint64_t busy = 0;
  std::uint64_t total = 0;
};

// One snapshot of the machine. The sampling state (cpu_ticks, sampled_at_ns and
// each process's cpu_time_ns) lets the next refresh turn counters into rates.
struct System {
  std::uint64_t total_memory = 0;  // bytes
  std::uint64_t used_memory = 0;   // bytes
  float cpu_usage = 0;             // percent 0..100, mean over logical CPUs
  ProcessTable processes;

  std::vector<CpuTicks> cpu_ticks;   // per logical CPU at the last refresh; empty before the first
  std::uint64_t sampled_at_ns = 0;   // monotonic clock at the last refresh
};

// A mounted volume as the snapshot reports it.
struct Disk {
  std::string mount_point;  // bytes
  std::uint64_t total_capacity = 0;
  std::uint64_t available_capacity = 0;
};

enum class Signal { Terminate, Kill };  // SIGTERM, SIGKILL
enum class SignalOutcome {
  Delivered,
  NotDelivered,  // the platform refused (permissions, say)
  Unsupported,   // the platform has no such signal
  Exited,        // the held process ended first; nothing was sent
};

// One process held from its checks to its signal, so that the signal reaches
// that process or none: never another one that was given its id meanwhile.
class ProcessHold {
 public:
  virtual ~ProcessHold() = default;
  // SIGTERM or SIGKILL to the held process.
  virtual SignalOutcome kill_with(Signal signal) = 0;
};

class SystemInfoProvider {
 public:
  virtual ~SystemInfoProvider() = default;

  // A snapshot already refreshed once: every process with every fact, CPU figures 0.
  virtual System new_all() = 0;
  // Re-reads memory, CPU and the process table in place. CPU figures then cover the
  // time since the previous refresh; a process that has exited keeps its last figures.
  virtual void refresh_snapshot(System& system) = 0;
  // The kernel's host name; nullopt when unreadable, empty or not UTF-8.
  virtual std::optional<std::string> host_name() = 0;
  // One line naming the OS, its version and release; nullopt when unknown.
  virtual std::optional<std::string> os_long_version() = 0;
  // The volumes a user of the machine sees, in mount-table order.
  virtual std::vector<Disk> list_volumes() = 0;
  virtual Pid current_pid() = 0;
  // Takes hold of `checked`, a process of a snapshot: nullptr when its id now
  // names no live process, or another process (another start time).
  virtual std::unique_ptr<ProcessHold> hold_process(const Process& checked) = 0;
  // True when id names a thread that is not itself a process (not the first
  // thread of its process), so that no snapshot lists it.
  virtual bool is_thread(Pid id) = 0;
  // Waits for the whole duration, resuming after signal interruptions.
  // Tests replace it to run waits without waiting.
  virtual void pause(std::chrono::nanoseconds duration);
};

// The provider of the platform the engine was built for.
std::unique_ptr<SystemInfoProvider> make_platform_system_info_provider();

}  // namespace qm
