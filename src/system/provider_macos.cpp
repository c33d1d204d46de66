// The provider on macOS: Mach host statistics for memory and CPU, libproc for
// the process table, sysctl for the names, getfsstat and the CoreFoundation URL
// volume properties for the volumes. This file only reads the system and copies
// fields into the plain structs of mach_counters.h, mac_process_info.h and
// mac_system_facts.h, whose functions (tested on every platform) do the rest.
#include <CoreFoundation/CoreFoundation.h>
#include <libproc.h>
#include <mach/mach.h>
#include <mach/mach_time.h>
#include <sys/mount.h>
#include <sys/proc.h>
#include <sys/proc_info.h>
#include <sys/sysctl.h>

#include <cerrno>
#include <cstring>

#include "system/host_name.h"
#include "system/mac_process_info.h"
#include "system/mac_system_facts.h"
#include "system/mach_counters.h"
#include "system/posix_process.h"
#include "system/snapshot.h"
#include "system/volumes.h"

namespace qm {
namespace {

// The plain structs mirror these; a different SDK layout stops the build here.
static_assert(CPU_STATE_MAX == MachCpuLoad::kStates && CPU_STATE_USER == MachCpuLoad::kUser &&
              CPU_STATE_SYSTEM == MachCpuLoad::kSystem && CPU_STATE_IDLE == MachCpuLoad::kIdle &&
              CPU_STATE_NICE == MachCpuLoad::kNice);
static_assert(sizeof(proc_bsdinfo::pbi_comm) == MacBsdInfo::kCommandLength);
static_assert(sizeof(proc_bsdinfo::pbi_name) == 2 * MacBsdInfo::kCommandLength);
static_assert(SZOMB == MacBsdInfo::kZombie);

// A sysctl string by name; nullopt when it cannot be read.
std::optional<std::string> sysctl_string(const char* name) {
  std::size_t size = 0;
  if (sysctlbyname(name, nullptr, &size, nullptr, 0) != 0 || size == 0) return std::nullopt;
  std::string value(size, '\0');
  if (sysctlbyname(name, value.data(), &size, nullptr, 0) != 0) return std::nullopt;
  value.resize(size);
  return std::string(sysctl_text(value));
}

std::uint64_t physical_memory() {
  std::uint64_t bytes = 0;
  std::size_t size = sizeof bytes;
  if (sysctlbyname("hw.memsize", &bytes, &size, nullptr, 0) != 0 || size != sizeof bytes) return 0;
  return bytes;
}

// A send right to the host port, released when done (each mach_host_self()
// adds a reference).
class HostPort {
 public:
  HostPort() : port_(mach_host_self()) {}
  ~HostPort() { mach_port_deallocate(mach_task_self(), port_); }
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;
  host_t get() const { return port_; }

 private:
  host_t port_;
};

std::uint64_t used_memory(const HostPort& host) {
  vm_statistics64_data_t vm{};
  mach_msg_type_number_t count = HOST_VM_INFO64_COUNT;
  if (host_statistics64(host.get(), HOST_VM_INFO64, reinterpret_cast<host_info64_t>(&vm), &count) != KERN_SUCCESS) {
    return 0;
  }
  vm_size_t page_size = 0;
  if (host_page_size(host.get(), &page_size) != KERN_SUCCESS) return 0;
  MachVmStatistics statistics;
  statistics.active_count = vm.active_count;
  statistics.wire_count = vm.wire_count;
  statistics.compressor_page_count = vm.compressor_page_count;
  statistics.speculative_count = vm.speculative_count;
  return mach_used_memory(statistics, page_size);
}

std::vector<MachCpuLoad> cpu_loads(const HostPort& host) {
  natural_t cpus = 0;
  processor_info_array_t info = nullptr;
  mach_msg_type_number_t info_count = 0;
  if (host_processor_info(host.get(), PROCESSOR_CPU_LOAD_INFO, &cpus, &info, &info_count) != KERN_SUCCESS) {
    return {};
  }
  std::vector<MachCpuLoad> loads;
  const auto* per_cpu = reinterpret_cast<const processor_cpu_load_info*>(info);
  for (natural_t i = 0; i < cpus && (i + 1) * CPU_STATE_MAX <= info_count; ++i) {
    MachCpuLoad& load = loads.emplace_back();
    for (std::size_t state = 0; state < MachCpuLoad::kStates; ++state) {
      load.cpu_ticks[state] = per_cpu[i].cpu_ticks[state];
    }
  }
  // The array was mapped into this task for the reply; it is ours to release.
  vm_deallocate(mach_task_self(), reinterpret_cast<vm_address_t>(info), info_count * sizeof(integer_t));
  return loads;
}

MachTimebase timebase() {
  mach_timebase_info_data_t info{};
  if (mach_timebase_info(&info) != KERN_SUCCESS) return {};
  return MachTimebase{info.numer, info.denom};
}

std::vector<pid_t> all_pids() {
  const int estimate = proc_listallpids(nullptr, 0);
  if (estimate <= 0) return {};
  // Room for processes started since the estimate; a fuller table is read next time.
  std::vector<pid_t> pids(static_cast<std::size_t>(estimate) + 64);
  const int count = proc_listallpids(pids.data(), static_cast<int>(pids.size() * sizeof(pid_t)));
  pids.resize(count > 0 ? std::min(pids.size(), static_cast<std::size_t>(count)) : 0);
  return pids;
}

// The BSD facts of one process; nullopt when the id names none.
std::optional<MacBsdInfo> read_bsd_info(pid_t pid) {
  proc_bsdinfo bsd{};
  if (proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &bsd, sizeof bsd) != static_cast<int>(sizeof bsd)) return std::nullopt;
  MacBsdInfo info;
  info.pbi_status = bsd.pbi_status;
  info.pbi_pid = bsd.pbi_pid;
  info.pbi_ppid = bsd.pbi_ppid;
  info.pbi_ruid = bsd.pbi_ruid;
  std::memcpy(info.pbi_comm.data(), bsd.pbi_comm, sizeof bsd.pbi_comm);
  std::memcpy(info.pbi_name.data(), bsd.pbi_name, sizeof bsd.pbi_name);
  info.pbi_start_tvsec = bsd.pbi_start_tvsec;
  info.pbi_start_tvusec = bsd.pbi_start_tvusec;
  return info;
}

// What libproc tells about one process; nullopt once it has exited.
std::optional<MacProcessFacts> read_process_facts(pid_t pid) {
  std::optional<MacBsdInfo> bsd = read_bsd_info(pid);
  if (!bsd) return std::nullopt;
  MacProcessFacts facts;
  facts.bsd = *bsd;

  proc_taskinfo task{};
  errno = 0;
  if (proc_pidinfo(pid, PROC_PIDTASKINFO, 0, &task, sizeof task) == static_cast<int>(sizeof task)) {
    facts.task = MacTaskInfo{task.pti_resident_size, task.pti_total_user, task.pti_total_system};
  } else if (errno == ESRCH) {
    return std::nullopt;  // exited while read; other failures (another user's task) leave no task facts
  }

  char path[PROC_PIDPATHINFO_MAXSIZE];
  const int length = proc_pidpath(pid, path, sizeof path);
  if (length > 0) facts.path.emplace(path, static_cast<std::size_t>(length));
  return facts;
}

// CoreFoundation values of the expected type, else nullopt.
std::optional<std::string> cf_string(CFTypeRef value) {
  if (!value || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
  const auto text = static_cast<CFStringRef>(value);
  if (const char* direct = CFStringGetCStringPtr(text, kCFStringEncodingUTF8)) return std::string(direct);
  const CFIndex capacity = CFStringGetMaximumSizeForEncoding(CFStringGetLength(text), kCFStringEncodingUTF8) + 1;
  std::string buffer(static_cast<std::size_t>(capacity), '\0');
  if (!CFStringGetCString(text, buffer.data(), capacity, kCFStringEncodingUTF8)) return std::nullopt;
  buffer.resize(std::strlen(buffer.c_str()));
  return buffer;
}

std::optional<bool> cf_bool(CFTypeRef value) {
  if (!value || CFGetTypeID(value) != CFBooleanGetTypeID()) return std::nullopt;
  return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
}

std::optional<std::int64_t> cf_int64(CFTypeRef value) {
  if (!value || CFGetTypeID(value) != CFNumberGetTypeID()) return std::nullopt;
  std::int64_t number = 0;
  if (!CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &number)) return std::nullopt;
  return number;
}

// Releases a CoreFoundation object on every path.
template <class Ref>
class CfOwned {
 public:
  explicit CfOwned(Ref ref) : ref_(ref) {}
  ~CfOwned() {
    if (ref_) CFRelease(ref_);
  }
  CfOwned(const CfOwned&) = delete;
  CfOwned& operator=(const CfOwned&) = delete;
  Ref get() const { return ref_; }

 private:
  Ref ref_;
};

// The volume properties of a mount point; nullopt when they cannot be read.
std::optional<MacVolumeValues> read_volume_values(const std::string& mount_point) {
  const CfOwned<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
      kCFAllocatorDefault, reinterpret_cast<const UInt8*>(mount_point.data()),
      static_cast<CFIndex>(mount_point.size()), true));
  if (!url.get()) return std::nullopt;
  const void* keys[] = {kCFURLVolumeNameKey,
                        kCFURLVolumeIsBrowsableKey,
                        kCFURLVolumeIsLocalKey,
                        kCFURLVolumeTotalCapacityKey,
                        kCFURLVolumeAvailableCapacityForImportantUsageKey,
                        kCFURLVolumeAvailableCapacityKey};
  const CfOwned<CFArrayRef> key_array(
      CFArrayCreate(kCFAllocatorDefault, keys, sizeof keys / sizeof keys[0], &kCFTypeArrayCallBacks));
  if (!key_array.get()) return std::nullopt;
  const CfOwned<CFDictionaryRef> found(CFURLCopyResourcePropertiesForKeys(url.get(), key_array.get(), nullptr));
  if (!found.get()) return std::nullopt;
  const auto value = [&](CFStringRef key) { return CFDictionaryGetValue(found.get(), key); };

  MacVolumeValues values;
  values.name = cf_string(value(kCFURLVolumeNameKey));
  values.is_browsable = cf_bool(value(kCFURLVolumeIsBrowsableKey));
  values.is_local = cf_bool(value(kCFURLVolumeIsLocalKey));
  values.total_capacity = cf_int64(value(kCFURLVolumeTotalCapacityKey));
  values.available_capacity_for_important_usage = cf_int64(value(kCFURLVolumeAvailableCapacityForImportantUsageKey));
  values.available_capacity = cf_int64(value(kCFURLVolumeAvailableCapacityKey));
  return values;
}

std::vector<MountedVolume> read_mounted_volumes() {
  const int estimate = getfsstat(nullptr, 0, MNT_NOWAIT);
  if (estimate <= 0) return {};
  std::vector<struct statfs> table(static_cast<std::size_t>(estimate) + 8);
  const int count = getfsstat(table.data(), static_cast<int>(table.size() * sizeof(struct statfs)), MNT_NOWAIT);
  std::vector<MountedVolume> mounts;
  for (int i = 0; i < count && static_cast<std::size_t>(i) < table.size(); ++i) {
    const char* on = table[static_cast<std::size_t>(i)].f_mntonname;
    std::string mount_point(on, strnlen(on, sizeof table[0].f_mntonname));
    std::optional<VolumeProperties> properties;
    if (auto values = read_volume_values(mount_point)) properties = mac_volume_properties(*values);
    mounts.push_back(MountedVolume{std::move(mount_point), std::move(properties)});
  }
  return mounts;
}

class MacSystemInfoProvider final : public SystemInfoProvider {
 public:
  System new_all() override {
    System system;
    refresh_snapshot(system);
    return system;
  }

  void refresh_snapshot(System& system) override { apply_reading(system, read_system(system.cpu_ticks)); }

  std::optional<std::string> host_name() override {
    const auto name = sysctl_string("kern.hostname");
    return name ? host_name_text(*name) : std::nullopt;
  }

  std::optional<std::string> os_long_version() override {
    const auto product = sysctl_string("kern.osproductversion");
    const auto build = sysctl_string("kern.osversion");
    return mac_os_long_version(product.value_or(""), build.value_or(""));
  }

  std::vector<Disk> list_volumes() override { return select_volumes(read_mounted_volumes()); }

  Pid current_pid() override { return own_pid(); }

  // macOS has no process descriptor to signal through: the start time, to the
  // microsecond, is compared now and again right before kill().
  std::unique_ptr<ProcessHold> hold_process(const Process& checked) override {
    if (checked.pid == 0 || checked.pid > kLargestPid) return nullptr;
    const auto pid = static_cast<pid_t>(checked.pid);
    if (!mac_is_same_process(read_bsd_info(pid), checked)) return nullptr;
    return std::make_unique<RecheckedHold>(checked.pid,
                                           [pid, checked] { return mac_is_same_process(read_bsd_info(pid), checked); });
  }

  // Thread ids on macOS are 64-bit numbers of their own, never process ids.
  bool is_thread(Pid) override { return false; }

 private:
  // One reading; the CPU ticks carry on from previous_ticks (see mach_cpu_ticks).
  SystemReading read_system(const std::vector<CpuTicks>& previous_ticks) {
    SystemReading reading;
    reading.taken_at_ns = monotonic_ns();
    const HostPort host;
    reading.total_memory = physical_memory();
    reading.used_memory = used_memory(host);
    reading.cpu_ticks = mach_cpu_ticks(previous_ticks, cpu_loads(host));
    for (const pid_t pid : all_pids()) {
      const auto facts = read_process_facts(pid);
      if (!facts) continue;
      if (auto process = mac_process(*facts, timebase_)) reading.processes.push_back(std::move(*process));
    }
    return reading;
  }

  MachTimebase timebase_ = timebase();
};

}  // namespace

std::unique_ptr<SystemInfoProvider> make_platform_system_info_provider() {
  return std::make_unique<MacSystemInfoProvider>();
}

}  // namespace qm
