// Cost of reading the process table, and of one "system" request without its
// fixed 220 ms pause. With fewer than 500 processes on the machine, sleeping
// children are started first so the figures are for at least 500.
#include <benchmark/benchmark.h>
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "system/provider_linux.h"
#include "app/commands.h"

namespace {

constexpr std::size_t kWantedProcesses = 500;

std::size_t count_processes() {
  std::size_t count = 0;
  if (DIR* dir = opendir("/proc")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9') ++count;
    }
    closedir(dir);
  }
  return count;
}

// Sleeping children that top the machine up to kWantedProcesses; ended at exit.
class SleepingChildren {
 public:
  SleepingChildren() {
    const pid_t parent = getpid();
    for (std::size_t have = count_processes(); have < kWantedProcesses; ++have) {
      const pid_t child = fork();
      if (child < 0) break;
      if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the benchmark
        if (getppid() != parent) _exit(0);
        for (;;) pause();
      }
      children_.push_back(child);
    }
  }
  ~SleepingChildren() {
    for (const pid_t child : children_) kill(child, SIGKILL);
    for (const pid_t child : children_) waitpid(child, nullptr, 0);
  }

 private:
  std::vector<pid_t> children_;
};

void ensure_processes() { static SleepingChildren children; }

// The Linux provider with the sampling pause left out.
class NoPauseProvider final : public qm::SystemInfoProvider {
 public:
  qm::System new_all() override { return inner_.new_all(); }
  void refresh_snapshot(qm::System& system) override { inner_.refresh_snapshot(system); }
  std::optional<std::string> host_name() override { return inner_.host_name(); }
  std::optional<std::string> os_long_version() override { return inner_.os_long_version(); }
  std::vector<qm::Disk> list_volumes() override { return inner_.list_volumes(); }
  qm::Pid current_pid() override { return inner_.current_pid(); }
  std::unique_ptr<qm::ProcessHold> hold_process(const qm::Process& checked) override {
    return inner_.hold_process(checked);
  }
  bool is_thread(qm::Pid id) override { return inner_.is_thread(id); }
  void pause(std::chrono::nanoseconds) override {}

 private:
  qm::LinuxSystemInfoProvider inner_;
};

void BM_ProcessTableSnapshot(benchmark::State& state) {
  ensure_processes();
  qm::LinuxSystemInfoProvider provider;
  std::size_t processes = 0;
  for (auto _ : state) {
    qm::System system = provider.new_all();
    processes = system.processes.size();
    benchmark::DoNotOptimize(system);
  }
  state.counters["processes"] = static_cast<double>(processes);
}
BENCHMARK(BM_ProcessTableSnapshot)->Unit(benchmark::kMillisecond);

void BM_SystemRequestBeyondPause(benchmark::State& state) {
  ensure_processes();
  NoPauseProvider provider;
  for (auto _ : state) {
    qm::CommandResult result = qm::system_command(provider);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_SystemRequestBeyondPause)->Unit(benchmark::kMillisecond);

void BM_ListVolumes(benchmark::State& state) {
  qm::LinuxSystemInfoProvider provider;
  for (auto _ : state) {
    std::vector<qm::Disk> disks = provider.list_volumes();
    benchmark::DoNotOptimize(disks);
  }
}
BENCHMARK(BM_ListVolumes)->Unit(benchmark::kMicrosecond);

}  // namespace
