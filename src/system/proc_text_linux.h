#pragma once
// Parsers for the text files the Linux kernel and distribution publish about
// processes, memory, CPUs, mounts and the OS release. Pure functions over the
// file contents, so they are tested with fixture text.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/system_info_provider.h"

namespace qm {

// The fields used from /proc/PID/stat.
struct ProcStat {
  std::string_view name;  // comm, between the first '(' and the last ')'
  char state = '?';
  std::uint64_t parent_pid = 0;
  std::uint64_t user_ticks = 0;
  std::uint64_t system_ticks = 0;
  std::uint64_t start_ticks = 0;  // since boot
  std::uint64_t resident_pages = 0;
};

// nullopt when the line is cut short or malformed. The name may hold spaces and
// ')' itself, so the fields after it are found from the last ')'.
std::optional<ProcStat> parse_proc_stat(std::string_view text);

// The real user id: the first number of the "Uid:" line of /proc/PID/status.
std::optional<std::uint32_t> parse_status_real_user_id(std::string_view text);

// The process a thread belongs to: the "Tgid:" line of /proc/ID/status (the id
// of the process's first thread, which is the process id).
std::optional<std::uint64_t> parse_status_thread_group_id(std::string_view text);

struct MemoryInfo {
  std::uint64_t total = 0;      // bytes
  std::uint64_t available = 0;  // bytes
};

// MemTotal and MemAvailable of /proc/meminfo (kB lines) in bytes; 0 when missing.
MemoryInfo parse_meminfo(std::string_view text);

struct KernelStat {
  std::vector<CpuTicks> cpus;  // one per "cpuN" line, in file order
  std::optional<std::uint64_t> boot_time;  // "btime", seconds since the epoch
};

// Busy ticks are user, nice, system, irq, softirq and steal; idle and iowait add
// to the total only. Guest time is already part of user time and is not added twice.
KernelStat parse_kernel_stat(std::string_view text);

// One line of /proc/self/mountinfo.
struct MountInfoEntry {
  std::string mount_point;  // unescaped bytes
  std::string type;
  std::string source;       // unescaped bytes
};

std::optional<MountInfoEntry> parse_mountinfo_line(std::string_view line);

// Undoes the kernel's octal escapes in mount paths ("\040" is a space).
std::string unescape_mount_text(std::string_view text);

// PRETTY_NAME of an os-release file, with its shell quoting removed; nullopt when
// missing or empty.
std::optional<std::string> parse_os_release_pretty_name(std::string_view text);

// Undoes udev's "\xNN" escapes in /dev/disk/by-label names.
std::string unescape_udev_name(std::string_view text);

}  // namespace qm
