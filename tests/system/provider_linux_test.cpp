#include "system/provider_linux.h"
#include "system/posix_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <climits>
#include <fstream>
#include <memory>

#include "support/child_guard.h"
#include "support/descriptors.h"
#include "support/failing_allocations.h"
#include "support/parked_thread.h"
#include "support/temp_dir.h"

namespace qm {
namespace {

using test::TempDir;

std::uint64_t ticks_per_second() { return static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK)); }
std::uint64_t page_size() { return static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE)); }

std::string stat_line(Pid pid, std::string_view name, char state, Pid parent, std::uint64_t user_ticks,
                      std::uint64_t start_ticks, std::uint64_t pages) {
  return std::to_string(pid) + " (" + std::string(name) + ") " + state + " " + std::to_string(parent) +
         " 1 1 0 -1 0 0 0 0 0 " + std::to_string(user_ticks) + " 0 0 0 20 0 1 0 " + std::to_string(start_ticks) +
         " 1000 " + std::to_string(pages) + " 0 0 0\n";
}

std::string status_text(std::optional<std::uint32_t> uid) {
  std::string text = "Name:\tx\nState:\tS (sleeping)\nPPid:\t1\n";
  if (uid) text += "Uid:\t" + std::to_string(*uid) + "\t0\t0\t0\n";
  return text + "Gid:\t0\t0\t0\t0\n";
}

// A /proc look-alike: kernel counters, memory, and a few processes in odd states.
class FakeProcTree {
 public:
  FakeProcTree() {
    write_counters(100, 200);
    dir.write_file("proc/meminfo", "MemTotal:  1000 kB\nMemFree:  10 kB\nMemAvailable:  250 kB\n");
    add_process(10, "my app", 'S', 1, 300, 5 * ticks_per_second(), 3, 1000, "/opt/my app/bin");
    add_process(11, "defunct", 'Z', 10, 0, 0, 0, 1000, std::nullopt);  // a zombie has exited
    dir.write_file("proc/12/stat", stat_line(12, "vanishing", 'S', 1, 0, 0, 1));  // no status: gone mid-read
    dir.make_dir("proc/13");                                                     // gone before its stat
    add_process(14, "a) (b", 'R', 0, 0, 0, 0, std::nullopt, std::nullopt);
    dir.make_dir("proc/sys");
    dir.make_dir("proc/1a");
    dir.make_symlink("proc/self", "10");
  }

  void add_process(Pid pid, std::string_view name, char state, Pid parent, std::uint64_t user_ticks,
                   std::uint64_t start_ticks, std::uint64_t pages, std::optional<std::uint32_t> uid,
                   std::optional<std::string> exe) {
    const std::string base = "proc/" + std::to_string(pid);
    dir.write_file(base + "/stat", stat_line(pid, name, state, parent, user_ticks, start_ticks, pages));
    dir.write_file(base + "/status", status_text(uid));
    if (exe) dir.make_symlink(base + "/exe", *exe);
  }

  // Two CPUs: the first busy for `busy` of `total` ticks, the second idle.
  void write_counters(std::uint64_t busy, std::uint64_t total) {
    dir.write_file("proc/stat", "cpu  1 1 1 1\ncpu0 " + std::to_string(busy) + " 0 0 " +
                                    std::to_string(total - busy) + " 0 0 0 0 0 0\ncpu1 0 0 0 " +
                                    std::to_string(total) + " 0 0 0 0 0 0\nbtime 1700000000\n");
  }

  LinuxSystemInfoProvider provider() const {
    LinuxSystemPaths paths;
    paths.proc = dir / "proc";
    paths.os_release = {dir / "os-release"};
    paths.disk_labels = dir / "by-label";
    return LinuxSystemInfoProvider(paths);
  }

  TempDir dir;
};

TEST(LinuxProvider, ReadsEveryLiveProcessWithItsFacts) {
  FakeProcTree tree;
  LinuxSystemInfoProvider provider = tree.provider();
  const System system = provider.new_all();

  std::vector<Pid> pids;
  for (const Process& process : system.processes) pids.push_back(process.pid);
  EXPECT_EQ(pids, (std::vector<Pid>{10, 14}));  // no zombie, nothing that vanished while read

  const Process* app = system.processes.find(10);
  ASSERT_NE(app, nullptr);
  EXPECT_EQ(app->name, "my app");
  EXPECT_EQ(app->parent, std::optional<Pid>(1));
  EXPECT_EQ(app->path, std::optional<std::string>("/opt/my app/bin"));
  EXPECT_EQ(app->memory, 3 * page_size());
  EXPECT_EQ(app->user_id, std::optional<std::uint32_t>(1000));
  EXPECT_EQ(app->start_time, 1700000005u);
  EXPECT_EQ(app->cpu_time_ns, 300 * 1'000'000'000ull / ticks_per_second());
  EXPECT_EQ(app->cpu_usage, 0.0f);  // first seen

  const Process* odd = system.processes.find(14);
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(odd->name, "a) (b");
  EXPECT_EQ(odd->parent, std::nullopt);  // parent id 0 means none
  EXPECT_EQ(odd->path, std::nullopt);
  EXPECT_EQ(odd->user_id, std::nullopt);

  EXPECT_EQ(system.total_memory, 1000u * 1024);
  EXPECT_EQ(system.used_memory, 750u * 1024);
  EXPECT_EQ(system.cpu_usage, 0.0f);
}

TEST(LinuxProvider, RefreshGivesRatesAndKeepsProcessesThatExited) {
  FakeProcTree tree;
  LinuxSystemInfoProvider provider = tree.provider();
  System system = provider.new_all();

  tree.write_counters(100 + 150, 200 + 200);  // CPU 0 busy 75% of the interval, CPU 1 idle
  tree.add_process(10, "my app", 'S', 1, 300 + 50, 5 * ticks_per_second(), 3, 1000, std::nullopt);
  test::remove_tree(tree.dir / "proc/14");
  tree.add_process(20, "newcomer", 'S', 1, 500, 7, 1, 1000, std::nullopt);
  provider.refresh_snapshot(system);

  EXPECT_FLOAT_EQ(system.cpu_usage, 37.5f);
  ASSERT_NE(system.processes.find(10), nullptr);
  EXPECT_GT(system.processes.find(10)->cpu_usage, 0.0f);
  ASSERT_NE(system.processes.find(14), nullptr);  // exited: kept with its last figures
  EXPECT_EQ(system.processes.find(14)->name, "a) (b");
  ASSERT_NE(system.processes.find(20), nullptr);
  EXPECT_EQ(system.processes.find(20)->cpu_usage, 0.0f);
}

TEST(LinuxProvider, AMissingProcFolderGivesAnEmptySnapshot) {
  TempDir dir;
  LinuxSystemPaths paths;
  paths.proc = dir / "absent";
  LinuxSystemInfoProvider provider(paths);
  const System system = provider.new_all();
  EXPECT_TRUE(system.processes.empty());
  EXPECT_EQ(system.total_memory, 0u);
  EXPECT_TRUE(provider.list_volumes().empty());
}

TEST(LinuxProvider, OsVersionComesFromTheFirstOsReleaseFileThatExists) {
  TempDir dir;
  dir.write_file("etc-os-release", "NAME=x\nPRETTY_NAME=\"Example OS 3 (tiny)\"\n");
  dir.write_file("usr-os-release", "PRETTY_NAME=\"Other\"\n");
  dir.write_file("no-pretty-name", "NAME=x\n");
  struct Case {
    std::vector<std::string> files;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {{dir / "etc-os-release", dir / "usr-os-release"}, "Example OS 3 (tiny)"},
      {{dir / "missing", dir / "usr-os-release"}, "Other"},
      {{dir / "no-pretty-name", dir / "usr-os-release"}, std::nullopt},
      {{dir / "missing"}, std::nullopt},
  };
  for (const auto& c : cases) {
    LinuxSystemPaths paths;
    paths.os_release = c.files;
    EXPECT_EQ(LinuxSystemInfoProvider(paths).os_long_version(), c.expected) << c.files.front();
  }
}

TEST(LinuxProvider, VolumesComeFromTheMountTableWithLabelsAndCapacities) {
  FakeProcTree tree;
  TempDir& dir = tree.dir;
  const std::string data = dir.make_dir("mnt/My Data");
  const std::string device = dir.write_file("dev/sdz1", "");
  dir.make_dir("by-label");
  dir.make_symlink("by-label/Backup\\x20Disk", device);
  auto escaped = [](std::string path) {
    for (std::size_t at = path.find(' '); at != std::string::npos; at = path.find(' ', at)) path.replace(at, 1, "\\040");
    return path;
  };
  dir.write_file("proc/self/mountinfo",
                 "22 28 0:21 / /proc rw - proc proc rw\n"
                 "26 24 0:24 / /dev/shm rw - tmpfs tmpfs rw\n"
                 "28 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                 "50 28 0:50 / " + escaped(data) + " rw - xfs " + escaped(device) + " rw\n"
                 "51 28 0:51 / /net rw - nfs4 server:/export rw\n"
                 "52 28 0:52 / /snap/core/1 ro - squashfs /dev/loop3 ro\n"
                 "53 28 0:53 / " + escaped(data) + "/ rw - xfs " + escaped(device) + " rw\n"
                 "malformed line\n");
  LinuxSystemInfoProvider provider = tree.provider();

  const std::vector<MountedVolume> mounts = provider.read_mounted_volumes();
  ASSERT_EQ(mounts.size(), 7u);
  EXPECT_EQ(mounts[3].mount_point, data);
  ASSERT_TRUE(mounts[3].properties);
  EXPECT_EQ(mounts[3].properties->name, std::optional<std::string>("Backup Disk"));
  EXPECT_EQ(mounts[2].properties->name, std::optional<std::string>("/dev/vda"));  // no label: the device
  EXPECT_EQ(mounts[0].properties->browsable, std::optional<bool>(false));
  EXPECT_EQ(mounts[4].properties->local, std::optional<bool>(false));
  EXPECT_FALSE(mounts[4].properties->total_capacity);  // a network share is never asked

  struct statvfs figures {};
  ASSERT_EQ(statvfs(data.c_str(), &figures), 0);
  ASSERT_TRUE(mounts[3].properties->total_capacity);
  EXPECT_EQ(*mounts[3].properties->total_capacity, std::uint64_t(figures.f_blocks) * figures.f_frsize);

  const std::vector<Disk> disks = provider.list_volumes();
  ASSERT_EQ(disks.size(), 2u);
  EXPECT_EQ(disks[0].mount_point, "/");
  EXPECT_EQ(disks[1].mount_point, data);
  EXPECT_EQ(disks[1].total_capacity, std::uint64_t(figures.f_blocks) * figures.f_frsize);
}

TEST(LinuxProvider, ClosesEveryDescriptorAndDirectoryWhenAnAllocationFails) {
  FakeProcTree tree;
  tree.dir.make_dir("by-label");
  tree.dir.make_symlink("by-label/Data", tree.dir.write_file("dev/sdz1", ""));
  tree.dir.write_file("proc/self/mountinfo", "28 1 254:0 / / rw,relatime - ext4 " + (tree.dir / "dev/sdz1") + " rw\n");
  LinuxSystemInfoProvider provider = tree.provider();
  const int open_before = test::open_descriptor_count();
  auto read_everything = [&] {
    try {
      (void)provider.new_all();
      (void)provider.list_volumes();
      (void)provider.host_name();
      (void)provider.os_long_version();
    } catch (const std::bad_alloc&) {
    }
  };
  const std::uint64_t runs = test::for_each_failing_allocation(test::FailureMode::Once, read_everything, [&](std::uint64_t at) {
    ASSERT_EQ(test::open_descriptor_count(), open_before) << "allocation " << at << " failed";
  });
  EXPECT_GT(runs, 10u);  // the reading allocates; each of those allocations was failed once
}

// The real kernel.

TEST(LinuxProviderOnThisMachine, FindsThisProcessWithItsFacts) {
  LinuxSystemInfoProvider provider;
  EXPECT_EQ(provider.current_pid(), static_cast<Pid>(getpid()));
  const System system = provider.new_all();
  const Process* own = system.processes.find(provider.current_pid());
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->name, "system_tests");
  EXPECT_EQ(own->parent, std::optional<Pid>(static_cast<Pid>(getppid())));
  EXPECT_EQ(own->user_id, std::optional<std::uint32_t>(getuid()));
  char exe[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe);
  ASSERT_GT(length, 0);
  EXPECT_EQ(own->path, std::optional<std::string>(std::string(exe, static_cast<std::size_t>(length))));
  EXPECT_GT(own->memory, 0u);
  const auto now = static_cast<std::uint64_t>(time(nullptr));
  EXPECT_LE(own->start_time, now + 1);
  EXPECT_GT(own->start_time, now - 24 * 3600);  // started by this test run
  EXPECT_GT(system.total_memory, 0u);
  EXPECT_GT(system.cpu_ticks.size(), 0u);
}

TEST(LinuxProvider, HostNameIsTheKernelsNodeNameWhenItIsText) {
  struct Case {
    const char* description;
    std::optional<std::string> file;  // the contents of proc/sys/kernel/hostname; nullopt: no such file
    std::optional<std::string> expected;
  };
  for (const Case& c : {Case{"a name and its line feed", "studio-mac\n", "studio-mac"},
                        Case{"a name without a line feed", "box", "box"},
                        Case{"only the last line feed goes", "odd\n\n", "odd\n"},
                        Case{"an empty name is none", "\n", std::nullopt},
                        Case{"a name that is not UTF-8 is none", "caf\xE9\n", std::nullopt},
                        Case{"no file is none", std::nullopt, std::nullopt}}) {
    TempDir dir;
    dir.make_dir("proc/sys/kernel");
    if (c.file) dir.write_file("proc/sys/kernel/hostname", *c.file);
    LinuxSystemPaths paths;
    paths.proc = dir / "proc";
    LinuxSystemInfoProvider provider(paths);
    EXPECT_EQ(provider.host_name(), c.expected) << c.description;
  }
}

TEST(LinuxProviderOnThisMachine, HostNameIsWhatTheHostnameProgramPrints) {
  FILE* pipe = ::popen("hostname", "r");
  ASSERT_NE(pipe, nullptr);
  char line[256] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  ASSERT_TRUE(got);
  std::string expected(line);
  if (!expected.empty() && expected.back() == '\n') expected.pop_back();
  EXPECT_EQ(LinuxSystemInfoProvider().host_name(), std::optional<std::string>(expected));
}

TEST(LinuxProviderOnThisMachine, AnUnreapedChildIsNotInTheTable) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  // Wait until the child is a zombie (siginfo without reaping it).
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  LinuxSystemInfoProvider provider;
  const System system = provider.new_all();
  EXPECT_EQ(system.processes.find(static_cast<Pid>(child)), nullptr);
  EXPECT_EQ(waitpid(child, nullptr, 0), child);
}

// A child that waits to be signalled; killed and reaped by the guard unless reaped first.
class PausedChild : public test::ChildGuard {
 public:
  PausedChild() : ChildGuard(fork()) {
    if (pid_ == 0) {
      for (;;) pause();
    }
  }
};

// The child's record in a snapshot taken now.
std::optional<Process> checked_record(LinuxSystemInfoProvider& provider, pid_t pid) {
  const System system = provider.new_all();
  const Process* process = system.processes.find(static_cast<Pid>(pid));
  return process ? std::optional<Process>(*process) : std::nullopt;
}

TEST(LinuxProviderOnThisMachine, HoldsOnlySingleProcessesByTheirIds) {
  // kill(0, ...) would signal the whole process group: run it in a child that leads its
  // own group, so a mistake ends only the child.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setpgid(0, 0);
    LinuxSystemInfoProvider provider;
    Process group;
    group.pid = 0;
    const bool refused = provider.hold_process(group) == nullptr;
    group.pid = 0x80000000u + 12345;  // would be a negative id, a process group
    const bool refused_negative = provider.hold_process(group) == nullptr;
    _exit(refused && refused_negative ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child was signalled";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(LinuxProviderOnThisMachine, DeliversTerminateAndKillToAHeldChild) {
  for (const Signal signal : {Signal::Terminate, Signal::Kill}) {
    PausedChild child;
    ASSERT_GT(child.pid(), 0);
    LinuxSystemInfoProvider provider;
    const std::optional<Process> checked = checked_record(provider, child.pid());
    ASSERT_TRUE(checked);
    const std::unique_ptr<ProcessHold> hold = provider.hold_process(*checked);
    ASSERT_NE(hold, nullptr);
    EXPECT_EQ(hold->kill_with(signal), SignalOutcome::Delivered);
    EXPECT_EQ(child.reap(), signal == Signal::Kill ? SIGKILL : SIGTERM);
  }
}

TEST(LinuxProviderOnThisMachine, RefusesToHoldAProcessThatIsNotTheCheckedOne) {
  PausedChild child;
  ASSERT_GT(child.pid(), 0);
  LinuxSystemInfoProvider provider;
  std::optional<Process> checked = checked_record(provider, child.pid());
  ASSERT_TRUE(checked);
  Process earlier = *checked;
  earlier.start_stamp -= 1;  // the record of a process that had the id before
  EXPECT_EQ(provider.hold_process(earlier), nullptr);

  ASSERT_EQ(kill(child.pid(), SIGKILL), 0);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOWAIT), 0);
  EXPECT_EQ(provider.hold_process(*checked), nullptr) << "an exited child (not reaped yet) cannot be held";
}

// Gives the next process this machine starts the id `pid`, if it is free:
// the kernel hands out the id after ns_last_pid (root only). Another process
// starting at the same moment can take it first; the caller checks.
bool offer_next_pid(pid_t pid) {
  std::ofstream last("/proc/sys/kernel/ns_last_pid");
  last << pid - 1;
  last.flush();
  return static_cast<bool>(last);
}

TEST(LinuxProviderOnThisMachine, AHeldProcessThatEndedIsNeverConfusedWithTheNextOneGivenItsId) {
  if (geteuid() != 0) GTEST_SKIP() << "giving out a chosen process id needs root";
  LinuxSystemInfoProvider provider;
  auto first = std::make_unique<PausedChild>();
  ASSERT_GT(first->pid(), 0);
  const pid_t id = first->pid();
  const std::optional<Process> checked = checked_record(provider, id);
  ASSERT_TRUE(checked);
  const std::unique_ptr<ProcessHold> hold = provider.hold_process(*checked);
  ASSERT_NE(hold, nullptr);

  // The checked process ends and is reaped; a new process is given its id.
  kill(id, SIGKILL);
  first.reset();
  std::unique_ptr<PausedChild> second;
  for (int attempt = 0; attempt < 100 && !(second && second->pid() == id); ++attempt) {
    ASSERT_TRUE(offer_next_pid(id));
    second = std::make_unique<PausedChild>();
  }
  ASSERT_TRUE(second && second->pid() == id) << "another process kept taking id " << id;

  EXPECT_EQ(hold->kill_with(Signal::Kill), SignalOutcome::Exited);
  EXPECT_TRUE(second->running()) << "the signal reached the process that was given the id";
}

TEST(RecheckedHold, SendsNothingOnceTheIdNamesAnotherProcess) {
  for (const bool same : {true, false}) {
    PausedChild child;
    ASSERT_GT(child.pid(), 0);
    RecheckedHold hold(static_cast<Pid>(child.pid()), [same] { return same; });
    EXPECT_EQ(hold.kill_with(Signal::Terminate), same ? SignalOutcome::Delivered : SignalOutcome::Exited);
    if (same) {
      EXPECT_EQ(child.reap(), SIGTERM);
    } else {
      EXPECT_TRUE(child.running());
    }
  }
}

TEST(LinuxProvider, AThreadIsAnIdWhoseStatusNamesAnotherProcess) {
  FakeProcTree tree;
  tree.dir.write_file("proc/402/status", "Name:\tworker\nTgid:\t10\nPid:\t402\n");
  tree.dir.write_file("proc/10/status", "Name:\tmy app\nTgid:\t10\nPid:\t10\n");
  LinuxSystemInfoProvider provider = tree.provider();
  EXPECT_TRUE(provider.is_thread(402));
  EXPECT_FALSE(provider.is_thread(10));   // a process's first thread is the process
  EXPECT_FALSE(provider.is_thread(999));  // nothing there
  EXPECT_FALSE(provider.is_thread(0));
}

TEST(LinuxProviderOnThisMachine, AThreadOfThisProcessIsAThreadAndThisProcessIsNot) {
  const test::ParkedThread thread;
  LinuxSystemInfoProvider provider;
  EXPECT_TRUE(provider.is_thread(static_cast<Pid>(thread.id())));
  EXPECT_FALSE(provider.is_thread(static_cast<Pid>(getpid())));
}

volatile sig_atomic_t alarms = 0;
void count_alarm(int) { alarms = alarms + 1; }

TEST(ProviderPause, WaitsTheWholeTimeThroughSignalInterruptions) {
  struct sigaction action {};
  action.sa_handler = count_alarm;  // no SA_RESTART: every alarm interrupts the sleep
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  itimerval every_20ms{{0, 20'000}, {0, 20'000}};
  ASSERT_EQ(setitimer(ITIMER_REAL, &every_20ms, nullptr), 0);

  LinuxSystemInfoProvider provider;
  alarms = 0;
  const auto started = std::chrono::steady_clock::now();
  provider.pause(std::chrono::milliseconds(220));
  const auto elapsed = std::chrono::steady_clock::now() - started;

  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
  sigaction(SIGALRM, &previous, nullptr);
  EXPECT_GE(elapsed, std::chrono::milliseconds(220));
  EXPECT_GT(alarms, 0);  // the sleep was in fact interrupted
}

}  // namespace
}  // namespace qm
