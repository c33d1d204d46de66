#pragma once
// A scripted SystemInfoProvider: snapshots, volumes and signal outcomes come
// from the test, and every call is logged so tests can check the order of work.
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "system/system_info_provider.h"

namespace qm::test {

inline Process make_process(Pid pid, std::uint64_t memory, std::optional<std::uint32_t> user_id = 501,
                            std::optional<Pid> parent = std::nullopt, std::uint64_t start_time = 1000) {
  Process process;
  process.pid = pid;
  process.parent = parent;
  process.name = "proc" + std::to_string(pid);
  process.path = "/usr/bin/proc" + std::to_string(pid);
  process.memory = memory;
  process.user_id = user_id;
  process.start_time = start_time;
  return process;
}

inline System make_system(std::vector<Process> processes, std::uint64_t total_memory = 1 << 30) {
  System system;
  system.total_memory = total_memory;
  system.used_memory = total_memory / 2;
  system.processes = ProcessTable(std::move(processes));
  return system;
}

class FakeSystemProvider : public SystemInfoProvider {
 public:
  // Handed out in turn by new_all and refresh_snapshot; the last one repeats.
  std::vector<System> states;
  Pid own_pid = 100;
  std::optional<std::string> host = "host";
  std::optional<std::string> os = "OS 1.0";
  std::vector<Disk> disks;
  SignalOutcome signal_outcome = SignalOutcome::Delivered;
  bool hold_fails = false;    // hold_process finds another process (or none) behind the id
  std::vector<Pid> threads;   // ids is_thread() says are threads

  std::vector<std::string> calls;  // "new_all", "refresh", "pause 220ms", "volumes", "hold 300", "kill 15"...
  std::vector<std::pair<Pid, Signal>> signals;
  std::size_t new_all_count = 0;
  std::chrono::nanoseconds clock{0};               // moved on by pause() only
  std::vector<std::chrono::nanoseconds> refreshed;  // the clock at each refresh
  std::vector<std::chrono::nanoseconds> snapshots;  // the clock at each new_all
  std::vector<std::chrono::nanoseconds> signalled;  // the clock at each kill_with

  System new_all() override {
    calls.push_back("new_all");
    ++new_all_count;
    snapshots.push_back(clock);
    return next_state();
  }
  void refresh_snapshot(System& system) override {
    calls.push_back("refresh");
    refreshed.push_back(clock);
    system = next_state();
  }
  std::optional<std::string> host_name() override { return host; }
  std::optional<std::string> os_long_version() override { return os; }
  std::vector<Disk> list_volumes() override {
    calls.push_back("volumes");
    return disks;
  }
  Pid current_pid() override { return own_pid; }
  std::unique_ptr<ProcessHold> hold_process(const Process& checked) override {
    calls.push_back("hold " + std::to_string(checked.pid));
    if (hold_fails) return nullptr;
    return std::make_unique<Hold>(*this, checked.pid);
  }
  bool is_thread(Pid id) override {
    calls.push_back("is_thread " + std::to_string(id));
    return std::find(threads.begin(), threads.end(), id) != threads.end();
  }
  void pause(std::chrono::nanoseconds duration) override {
    calls.push_back("pause " + std::to_string(duration.count() / 1'000'000) + "ms");
    clock += duration;
  }

 private:
  class Hold final : public ProcessHold {
   public:
    Hold(FakeSystemProvider& provider, Pid pid) : provider_(provider), pid_(pid) {}
    SignalOutcome kill_with(Signal signal) override {
      provider_.calls.push_back(signal == Signal::Kill ? "kill 9" : "kill 15");
      provider_.signals.emplace_back(pid_, signal);
      provider_.signalled.push_back(provider_.clock);
      return provider_.signal_outcome;
    }

   private:
    FakeSystemProvider& provider_;
    Pid pid_;
  };

  System next_state() {
    if (states.empty()) return System{};
    const std::size_t index = std::min(next_, states.size() - 1);
    ++next_;
    return states[index];
  }
  std::size_t next_ = 0;
};

}  // namespace qm::test
