#include "system/provider_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <memory>
#include <utility>

#include "common/saturating.h"
#include "common/unique_fd.h"
#include "common/utf8.h"
#include "system/file_system_kinds.h"
#include "system/host_name.h"
#include "system/posix_process.h"
#include "system/proc_text_linux.h"

// The same numbers on every architecture (system calls added since 5.0 are numbered alike).
#ifndef SYS_pidfd_send_signal
#define SYS_pidfd_send_signal 424
#endif
#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace qm {

namespace {

// Owns a directory stream (and the descriptor under it): closed on every path,
// also when an allocation throws while it is being read.
struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};
using DirStream = std::unique_ptr<DIR, DirCloser>;

// How a file ends: generated files of one record come whole in a single read
// that leaves room to spare, so a short read already marks their end (saving a
// system call per file). Others are read until read() returns 0.
enum class FileEnd { AtZeroRead, AtShortRead };

// Reads the file at dir_fd/path into buffer, which keeps its capacity between
// calls; the text is the first `length` bytes. False when it cannot be opened or read.
bool read_file_at(int dir_fd, const char* path, std::string& buffer, std::size_t& length,
                  FileEnd end = FileEnd::AtZeroRead) {
  length = 0;
  const UniqueFd fd(openat(dir_fd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return false;
  for (;;) {
    // May throw; the descriptor is closed all the same.
    if (buffer.size() - length < 1024) buffer.resize(std::max<std::size_t>(4096, buffer.size() * 2));
    const std::size_t room = buffer.size() - length;
    const ssize_t got = read(fd.get(), buffer.data() + length, room);
    if (got > 0) {
      length += static_cast<std::size_t>(got);
      if (end == FileEnd::AtShortRead && static_cast<std::size_t>(got) < room) return true;
    } else if (got == 0) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
}

bool read_file(const std::string& path, std::string& text) {
  std::size_t length = 0;
  if (!read_file_at(AT_FDCWD, path.c_str(), text, length)) return false;
  text.resize(length);
  return true;
}

std::uint64_t ticks_to_ns(std::uint64_t ticks, std::uint64_t ticks_per_second) {
  // Split so that large tick counts cannot overflow the multiplication.
  return ticks / ticks_per_second * 1'000'000'000u + ticks % ticks_per_second * 1'000'000'000u / ticks_per_second;
}

bool parse_pid(const char* text, Pid& pid) {
  const char* end = text;
  while (*end >= '0' && *end <= '9') ++end;
  if (end == text || *end != '\0') return false;
  auto [stop, error] = std::from_chars(text, end, pid);
  return error == std::errc() && stop == end;
}

std::optional<std::string> resolved_path(const std::string& path) {
  // Owned at once: copying it into a string may throw.
  const std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  if (!resolved) return std::nullopt;
  return std::string(resolved.get());
}

// Device path (resolved) and its label, for every entry of the by-label folder.
std::vector<std::pair<std::string, std::string>> read_disk_labels(const std::string& folder) {
  std::vector<std::pair<std::string, std::string>> labels;
  const DirStream dir(opendir(folder.c_str()));
  if (!dir) return labels;
  while (dirent* entry = readdir(dir.get())) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (auto device = resolved_path(folder + "/" + entry->d_name)) {
      labels.emplace_back(std::move(*device), unescape_udev_name(name));
    }
  }
  return labels;
}

// The process a pidfd refers to: its id cannot pass to another process while
// the descriptor is open, so the signal reaches it or, once it has ended, nobody.
class PidfdHold final : public ProcessHold {
 public:
  PidfdHold() = default;
  ~PidfdHold() override {
    if (pidfd_ >= 0) close(pidfd_);
  }
  PidfdHold(const PidfdHold&) = delete;
  PidfdHold& operator=(const PidfdHold&) = delete;

  // Takes a pidfd for the process that has this id now; false (errno set) when none.
  bool open(Pid pid) {
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    return pidfd_ >= 0;
  }

  SignalOutcome kill_with(Signal signal) override {
    const int number = signal == Signal::Kill ? SIGKILL : SIGTERM;
    if (syscall(SYS_pidfd_send_signal, pidfd_, number, nullptr, 0) == 0) return SignalOutcome::Delivered;
    if (errno == ESRCH) return SignalOutcome::Exited;
    return errno == EINVAL ? SignalOutcome::Unsupported : SignalOutcome::NotDelivered;
  }

 private:
  int pidfd_ = -1;
};

bool is_zombie_state(char state) { return state == 'Z' || state == 'X' || state == 'x'; }

}  // namespace

LinuxSystemInfoProvider::LinuxSystemInfoProvider(LinuxSystemPaths paths) : paths_(std::move(paths)) {
  const long ticks = sysconf(_SC_CLK_TCK);
  if (ticks > 0) ticks_per_second_ = static_cast<std::uint64_t>(ticks);
  const long page = sysconf(_SC_PAGESIZE);
  if (page > 0) page_size_ = static_cast<std::uint64_t>(page);
  buffer_.resize(8192);
}

bool LinuxSystemInfoProvider::read_process(int proc_fd, const char* pid_text, Pid pid, std::uint64_t boot_time,
                                           Process& process) {
  char path[48];
  const std::size_t pid_length = std::char_traits<char>::length(pid_text);
  if (pid_length + 8 > sizeof path) return false;
  std::copy(pid_text, pid_text + pid_length, path);
  char* leaf = path + pid_length;

  std::size_t length = 0;
  std::copy_n("/stat", 6, leaf);
  if (!read_file_at(proc_fd, path, buffer_, length, FileEnd::AtShortRead)) return false;  // gone already
  const std::optional<ProcStat> stat = parse_proc_stat(std::string_view(buffer_.data(), length));
  if (!stat) return false;
  // A zombie has exited; only its exit status waits to be collected.
  if (is_zombie_state(stat->state)) return false;

  process.pid = pid;
  process.parent = stat->parent_pid != 0 && stat->parent_pid <= UINT32_MAX
                       ? std::optional<Pid>(static_cast<Pid>(stat->parent_pid))
                       : std::nullopt;
  process.name.assign(stat->name);
  process.memory = stat->resident_pages > UINT64_MAX / page_size_ ? UINT64_MAX : stat->resident_pages * page_size_;
  process.start_time = saturating_add(boot_time, stat->start_ticks / ticks_per_second_);
  process.start_stamp = stat->start_ticks;
  process.cpu_time_ns = ticks_to_ns(saturating_add(stat->user_ticks, stat->system_ticks), ticks_per_second_);
  process.cpu_usage = 0;

  std::copy_n("/status", 8, leaf);
  if (!read_file_at(proc_fd, path, buffer_, length, FileEnd::AtShortRead)) return false;  // exited meanwhile
  process.user_id = parse_status_real_user_id(std::string_view(buffer_.data(), length));

  // The kernel's own text, including a " (deleted)" suffix for a replaced binary.
  std::copy_n("/exe", 5, leaf);
  char target[PATH_MAX + 1];
  const ssize_t target_length = readlinkat(proc_fd, path, target, sizeof target);
  if (target_length > 0 && static_cast<std::size_t>(target_length) < sizeof target) {
    process.path.emplace(target, static_cast<std::size_t>(target_length));
  } else {
    process.path.reset();  // kernel thread, or another user's process
  }
  return true;
}

SystemReading LinuxSystemInfoProvider::read_system() {
  SystemReading reading;
  reading.taken_at_ns = monotonic_ns();

  const UniqueFd proc(open(paths_.proc.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (proc.get() < 0) return reading;
  const int proc_fd = proc.get();

  std::uint64_t boot_time = 0;
  std::size_t length = 0;
  if (read_file_at(proc_fd, "stat", buffer_, length)) {
    KernelStat kernel = parse_kernel_stat(std::string_view(buffer_.data(), length));
    reading.cpu_ticks = std::move(kernel.cpus);
    boot_time = kernel.boot_time.value_or(0);
  }
  if (read_file_at(proc_fd, "meminfo", buffer_, length)) {
    const MemoryInfo memory = parse_meminfo(std::string_view(buffer_.data(), length));
    reading.total_memory = memory.total;
    reading.used_memory = saturating_sub(memory.total, memory.available);
  }

  // The directory stream works on a duplicate so proc_fd stays usable for openat.
  const int list_fd = fcntl(proc_fd, F_DUPFD_CLOEXEC, 0);
  const DirStream dir(list_fd >= 0 ? fdopendir(list_fd) : nullptr);
  if (!dir && list_fd >= 0) close(list_fd);
  if (dir) {
    Process process;
    while (dirent* entry = readdir(dir.get())) {
      Pid pid = 0;
      if (!parse_pid(entry->d_name, pid)) continue;
      if (read_process(proc_fd, entry->d_name, pid, boot_time, process)) reading.processes.push_back(process);
    }
  }
  return reading;
}

System LinuxSystemInfoProvider::new_all() {
  System system;
  apply_reading(system, read_system());
  return system;
}

void LinuxSystemInfoProvider::refresh_snapshot(System& system) { apply_reading(system, read_system()); }

std::optional<std::string> LinuxSystemInfoProvider::host_name() {
  // The kernel's node name (what uname reports), one line.
  std::string name;
  if (!read_file(paths_.proc + "/sys/kernel/hostname", name)) return std::nullopt;
  if (!name.empty() && name.back() == '\n') name.pop_back();
  return host_name_text(name);
}

std::optional<std::string> LinuxSystemInfoProvider::os_long_version() {
  std::string text;
  for (const std::string& path : paths_.os_release) {
    // The first file that exists is the one in force, even without the field.
    if (read_file(path, text)) return parse_os_release_pretty_name(text);
  }
  return std::nullopt;
}

std::vector<MountedVolume> LinuxSystemInfoProvider::read_mounted_volumes() {
  std::vector<MountedVolume> mounts;
  std::string text;
  if (!read_file(paths_.proc + "/self/mountinfo", text)) return mounts;

  std::vector<std::pair<std::string, std::string>> labels;
  bool labels_read = false;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    std::optional<MountInfoEntry> entry = parse_mountinfo_line(line);
    if (!entry) continue;

    VolumeProperties properties;
    properties.browsable = is_browsable_file_system(entry->type, entry->source);
    properties.local = !is_network_file_system(entry->type);
    // Capacities only for volumes that can be listed: statvfs on a hung network
    // share or a kernel interface would only cost time.
    if (*properties.browsable && *properties.local) {
      struct statvfs figures {};
      if (statvfs(entry->mount_point.c_str(), &figures) == 0) {
        properties.total_capacity = static_cast<std::uint64_t>(figures.f_blocks) * figures.f_frsize;
        properties.available_capacity = static_cast<std::uint64_t>(figures.f_bavail) * figures.f_frsize;
        properties.important_available_capacity = properties.available_capacity;
      }
      if (!labels_read) {
        labels = read_disk_labels(paths_.disk_labels);
        labels_read = true;
      }
      std::optional<std::string> device;
      if (entry->source.starts_with("/") && !labels.empty()) device = resolved_path(entry->source);
      for (const auto& [label_device, label] : labels) {
        if (device && *device == label_device) properties.name = label;
      }
      if (!properties.name && !entry->source.empty()) properties.name = entry->source;
    }
    mounts.push_back(MountedVolume{std::move(entry->mount_point), std::move(properties)});
  }
  return mounts;
}

std::vector<Disk> LinuxSystemInfoProvider::list_volumes() { return select_volumes(read_mounted_volumes()); }

Pid LinuxSystemInfoProvider::current_pid() { return own_pid(); }

bool LinuxSystemInfoProvider::is_same_process(const Process& checked) {
  const std::string stat_path = paths_.proc + "/" + std::to_string(checked.pid) + "/stat";
  std::size_t length = 0;
  if (!read_file_at(AT_FDCWD, stat_path.c_str(), buffer_, length, FileEnd::AtShortRead)) return false;
  const std::optional<ProcStat> stat = parse_proc_stat(std::string_view(buffer_.data(), length));
  return stat && !is_zombie_state(stat->state) && stat->start_ticks == checked.start_stamp;
}

std::unique_ptr<ProcessHold> LinuxSystemInfoProvider::hold_process(const Process& checked) {
  if (checked.pid == 0 || checked.pid > kLargestPid) return nullptr;
  auto hold = std::make_unique<PidfdHold>();  // made first, so the descriptor is owned from the start
  const bool opened = hold->open(checked.pid);
  if (!opened && errno != ENOSYS) return nullptr;  // no such process (any more)
  // The descriptor holds whatever process had the id just now; it is the checked
  // one when that process is still alive with the checked start time (a live
  // process keeps its id, so reading by id now reads the held process).
  if (!is_same_process(checked)) return nullptr;
  if (!opened) {
    return std::make_unique<RecheckedHold>(checked.pid, [this, checked] { return is_same_process(checked); });
  }
  return hold;
}

bool LinuxSystemInfoProvider::is_thread(Pid id) {
  if (id == 0 || id > kLargestPid) return false;
  const std::string status_path = paths_.proc + "/" + std::to_string(id) + "/status";
  std::size_t length = 0;
  if (!read_file_at(AT_FDCWD, status_path.c_str(), buffer_, length, FileEnd::AtShortRead)) return false;
  const std::optional<std::uint64_t> group = parse_status_thread_group_id(std::string_view(buffer_.data(), length));
  return group && *group != id;
}

std::unique_ptr<SystemInfoProvider> make_platform_system_info_provider() {
  return std::make_unique<LinuxSystemInfoProvider>();
}

}  // namespace qm
