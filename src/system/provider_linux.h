#pragma once
// The provider on Linux: everything is read from the kernel's text interfaces
// under /proc, plus os-release and the by-label device links. The locations are
// parameters so tests can point the provider at a fixture tree.
#include <string>
#include <vector>

#include "system/snapshot.h"
#include "system/system_info_provider.h"
#include "system/volumes.h"

namespace qm {

struct LinuxSystemPaths {
  std::string proc = "/proc";
  std::vector<std::string> os_release = {"/etc/os-release", "/usr/lib/os-release"};
  std::string disk_labels = "/dev/disk/by-label";
};

class LinuxSystemInfoProvider final : public SystemInfoProvider {
 public:
  explicit LinuxSystemInfoProvider(LinuxSystemPaths paths = {});

  System new_all() override;
  void refresh_snapshot(System& system) override;
  std::optional<std::string> host_name() override;
  std::optional<std::string> os_long_version() override;
  std::vector<Disk> list_volumes() override;
  Pid current_pid() override;
  // Through a pidfd taken now and checked against the record's start time; on
  // a kernel without pidfds (before 5.3) the start time is checked again right
  // before kill().
  std::unique_ptr<ProcessHold> hold_process(const Process& checked) override;
  bool is_thread(Pid id) override;

  // One reading of memory, CPU ticks and every live process (zombies count as
  // exited). Public for the benchmark, which times it alone.
  SystemReading read_system();
  // The mount table with each entry's properties, before selection.
  std::vector<MountedVolume> read_mounted_volumes();

 private:
  bool read_process(int proc_fd, const char* pid_text, Pid pid, std::uint64_t boot_time, Process& process);
  // True while checked.pid names a live process with checked's start time.
  bool is_same_process(const Process& checked);

  LinuxSystemPaths paths_;
  std::uint64_t ticks_per_second_ = 100;
  std::uint64_t page_size_ = 4096;
  std::string buffer_;  // reused for every file read
};

}  // namespace qm
