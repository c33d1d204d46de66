// "terminate" against real processes that the tests start and always end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "support/child_guard.h"
#include "support/parked_thread.h"
#include "system/terminate_process.h"

namespace qm {
namespace {

// terminate_process with this machine's provider.
Result<bool> terminate(Pid pid, bool force) {
  auto provider = make_platform_system_info_provider();
  return terminate_process(*provider, pid, force);
}

struct ChildOptions {
  bool ignore_terminate = false;
  bool as_nobody = false;  // runs under uid/gid 65534
};

// A sleeping child process, killed and reaped when the guard goes out of scope.
class SleepingChild : public test::ChildGuard {
 public:
  explicit SleepingChild(ChildOptions options) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      if (options.ignore_terminate) signal(SIGTERM, SIG_IGN);  // survives exec
      if (options.as_nobody && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                                setresuid(65534, 65534, 65534) != 0)) {
        _exit(126);
      }
      execl("/bin/sleep", "sleep", "300", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(ready[1]);
    // The write end closes on exec: end of file means the child runs sleep with its settings.
    char byte;
    while (read(ready[0], &byte, 1) < 0 && errno == EINTR) {
    }
    close(ready[0]);
  }
  Pid pid() const { return static_cast<Pid>(pid_); }
  bool started() const { return pid_ > 0; }
};

TEST(TerminateOnThisMachine, EndsAChildWithTerminateAndConfirmsItsExit) {
  SleepingChild child({});
  ASSERT_TRUE(child.started());
  const Result<bool> result = terminate(child.pid(), false);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(child.reap(), SIGTERM);
}

TEST(TerminateOnThisMachine, ReportsAChildThatIgnoresTerminateAndEndsItWithForce) {
  SleepingChild child({.ignore_terminate = true});
  ASSERT_TRUE(child.started());
  const auto started = std::chrono::steady_clock::now();
  const Result<bool> first = terminate(child.pid(), false);
  const auto elapsed = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(first.ok());
  EXPECT_EQ(first.error(), kStillRunningError);
  EXPECT_GE(elapsed, std::chrono::milliseconds(30 * 120));
  EXPECT_TRUE(child.running());

  const Result<bool> forced = terminate(child.pid(), true);
  ASSERT_TRUE(forced.ok()) << forced.error();
  EXPECT_EQ(child.reap(), SIGKILL);
}

TEST(TerminateOnThisMachine, ProtectsAnotherUsersProcessEvenWithForce) {
  SleepingChild child({.as_nobody = true});
  ASSERT_TRUE(child.started());
  for (const bool force : {false, true}) {
    const Result<bool> result = terminate(child.pid(), force);
    ASSERT_FALSE(result.ok()) << force;
    EXPECT_EQ(result.error(), kProtectedProcessError) << force;
  }
  EXPECT_TRUE(child.running());
}

TEST(TerminateOnThisMachine, ProtectsItsOwnProcess) {
  for (const bool force : {false, true}) {
    const Result<bool> result = terminate(static_cast<Pid>(getpid()), force);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), kProtectedAncestorError);
  }
}

TEST(TerminateOnThisMachine, AnIdNoProcessCanHaveHasExited) {
  // Process ids stay below pid_max.
  std::ifstream pid_max_file("/proc/sys/kernel/pid_max");
  std::uint64_t pid_max = 0;
  ASSERT_TRUE(pid_max_file >> pid_max);
  const Result<bool> result = terminate(static_cast<Pid>(pid_max), false);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), kProcessExitedError);
}

TEST(TerminateOnThisMachine, AChildThatExitedButWasNotReapedHasExited) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  const Result<bool> result = terminate(static_cast<Pid>(child), false);
  waitpid(child, nullptr, 0);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), kProcessExitedError);
}

TEST(TerminateOnThisMachine, AThreadIdIsNotAProcess) {
  Result<bool> result = CommandError{"not run"};
  {
    const test::ParkedThread thread;
    result = terminate(static_cast<Pid>(thread.id()), true);
  }
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), kThreadNotProcessError);
}

}  // namespace
}  // namespace qm
