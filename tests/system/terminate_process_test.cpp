#include <gtest/gtest.h>

#include <algorithm>

#include "system/fake_system_provider.h"
#include "system/terminate_process.h"

namespace qm {
namespace {

using test::FakeSystemProvider;
using test::make_process;
using test::make_system;

// The engine (100) runs under user 501; its parent is 50, whose parent is 1.
std::vector<Process> family() {
  return {make_process(1, 10, 0), make_process(50, 10, 501, 1), make_process(100, 10, 501, 50),
          make_process(300, 10, 501, 1, 1000), make_process(400, 10, 0, 1)};
}

std::vector<Process> without_target() {
  auto processes = family();
  std::erase_if(processes, [](const Process& p) { return p.pid == 300; });
  return processes;
}

struct RefusalCase {
  const char* description;
  std::vector<Process> processes;
  Pid target;
  SignalOutcome outcome;
  const char* error;
  std::size_t signals;
  bool hold_fails = false;
};

TEST(TerminateProcess, RefusesInTheOrderOfItsChecks) {
  auto without = [](std::vector<Process> processes, Pid pid) {
    std::erase_if(processes, [pid](const Process& p) { return p.pid == pid; });
    return processes;
  };
  auto with_own_user = [](std::optional<std::uint32_t> user) {
    auto processes = family();
    for (auto& p : processes) {
      if (p.pid == 100) p.user_id = user;
    }
    return processes;
  };
  auto parentless_engine = [] {
    auto processes = family();
    for (auto& p : processes) {
      if (p.pid == 100) p.parent.reset();
    }
    return processes;
  };
  const std::vector<RefusalCase> cases = {
      {"own process missing, even for a missing target", without(family(), 100), 999, SignalOutcome::Delivered,
       kCannotVerifyUserError, 0},
      {"target missing", family(), 999, SignalOutcome::Delivered, kProcessExitedError, 0},
      {"a thread's id is not a process", family(), 777, SignalOutcome::Delivered, kThreadNotProcessError, 0},
      {"pid 1 is a system process before it is an ancestor", family(), 1, SignalOutcome::Delivered,
       kProtectedProcessError, 0},
      {"another user's process", family(), 400, SignalOutcome::Delivered, kProtectedProcessError, 0},
      {"own process without a user id", with_own_user(std::nullopt), 300, SignalOutcome::Delivered,
       kProtectedProcessError, 0},
      {"own process is protected", family(), 100, SignalOutcome::Delivered, kProtectedAncestorError, 0},
      {"parent is protected", family(), 50, SignalOutcome::Delivered, kProtectedAncestorError, 0},
      {"own process without a parent is still protected", parentless_engine(), 100, SignalOutcome::Delivered,
       kProtectedAncestorError, 0},
      {"signal refused by the platform", family(), 300, SignalOutcome::NotDelivered, kSignalNotSentError, 1},
      {"signal unsupported by the platform", family(), 300, SignalOutcome::Unsupported, kSignalNotSentError, 1},
      // The checked process ended, and its id may name another process now: nothing is sent to it.
      {"id names another process when it is held", family(), 300, SignalOutcome::Delivered, kProcessExitedError, 0,
       true},
      {"held process ended before the signal", family(), 300, SignalOutcome::Exited, kProcessExitedError, 1},
  };
  for (const auto& c : cases) {
    FakeSystemProvider provider;
    provider.states = {make_system(c.processes)};
    provider.signal_outcome = c.outcome;
    provider.hold_fails = c.hold_fails;
    provider.threads = {777};
    const Result<bool> result = terminate_process(provider, c.target, false);
    ASSERT_FALSE(result.ok()) << c.description;
    EXPECT_EQ(result.error(), c.error) << c.description;
    EXPECT_EQ(provider.signals.size(), c.signals) << c.description;
    EXPECT_EQ(provider.new_all_count, 1u) << c.description;  // no confirmation checks after a refusal
  }
}

TEST(TerminateProcess, SendsTheAskedSignalOnceAndSeesTheExitInASnapshotTakenAPauseLater) {
  for (const bool force : {false, true}) {
    FakeSystemProvider provider;
    provider.states = {make_system(family()), make_system(without_target())};
    const Result<bool> result = terminate_process(provider, 300, force);
    ASSERT_TRUE(result.ok()) << force;
    ASSERT_EQ(provider.signals.size(), 1u);
    EXPECT_EQ(provider.signals[0], (std::pair<Pid, Signal>{300, force ? Signal::Kill : Signal::Terminate}));
    // Checked, held, signalled through the hold, then confirmed by a fresh snapshot 120 ms later.
    EXPECT_EQ(provider.calls, (std::vector<std::string>{"new_all", "hold 300", force ? "kill 9" : "kill 15",
                                                        "pause 120ms", "new_all"}));
    ASSERT_EQ(provider.snapshots.size(), 2u);
    EXPECT_LE(provider.snapshots[0], provider.signalled[0]);
    EXPECT_EQ(provider.snapshots[1] - provider.signalled[0], std::chrono::milliseconds(120));
  }
}

struct ConfirmationCase {
  const char* description;
  std::vector<System> states;  // the first is the snapshot before the signal
  bool ok;
  std::size_t snapshots;
};

TEST(TerminateProcess, ConfirmsTheExitWithinThirtyChecks) {
  auto repeated = [](std::size_t still_running, std::vector<Process> then) {
    std::vector<System> states(1 + still_running, make_system(family()));
    states.push_back(make_system(std::move(then)));
    return states;
  };
  auto reused = family();
  reused[3].start_time = 1001;  // same id, a new process
  auto reused_same_second = family();
  reused_same_second[3].start_stamp = 7;  // same id and second, a new process by its exact start
  const std::vector<ConfirmationCase> cases = {
      {"gone at the third check", repeated(2, without_target()), true, 4},
      {"gone at the thirtieth check", repeated(29, without_target()), true, 31},
      {"id reused by a process with another start time", repeated(5, reused), true, 7},
      {"id reused within the same second", repeated(5, reused_same_second), true, 7},
      {"still there after thirty checks", repeated(30, without_target()), false, 31},
      {"never goes away", {make_system(family())}, false, 31},
  };
  for (const auto& c : cases) {
    FakeSystemProvider provider;
    provider.states = c.states;
    const Result<bool> result = terminate_process(provider, 300, false);
    EXPECT_EQ(result.ok(), c.ok) << c.description;
    if (!c.ok) {
      EXPECT_EQ(result.error(), kStillRunningError) << c.description;
    }
    EXPECT_EQ(provider.new_all_count, c.snapshots) << c.description;
    const auto pauses = std::count(provider.calls.begin(), provider.calls.end(), "pause 120ms");
    EXPECT_EQ(static_cast<std::size_t>(pauses), c.snapshots - 1) << c.description;
    EXPECT_EQ(provider.signals.size(), 1u) << c.description;  // one signal, never a second one
  }
}

TEST(TerminateProcess, AncestorWalkEndsOnAParentLoop) {
  // A table read while processes came and went can show a loop; the walk must end.
  std::vector<Process> processes = {make_process(100, 1, 501, 200), make_process(200, 1, 501, 100),
                                    make_process(300, 1, 501, 1)};
  FakeSystemProvider provider;
  provider.states = {make_system(processes), make_system({processes[0], processes[1]})};
  const Result<bool> result = terminate_process(provider, 300, false);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(provider.signals.size(), 1u);
}

}  // namespace
}  // namespace qm
