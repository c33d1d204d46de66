// Start-up of the real binary with unusual standard descriptors and limits.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/descriptor_limit.h"
#include "common/thread_pool.h"
#include "protocol/output_pipe.h"
#include "support/engine_process.h"
#include "support/sanitizer.h"

extern char** environ;

namespace qm {
namespace {

struct EngineRun {
  int status = -1;  // exit status, or -1 when killed by a signal
  std::string output;
};

// Runs the engine with input on stdin; before exec the child applies setup (which
// may close descriptors, drop privileges, set limits). stdout is captured unless
// capture_output is false. extra_env: "NAME=value" strings added to the environment.
EngineRun run_engine(const std::string& input, const std::function<void()>& setup, bool capture_output = true,
                     const std::vector<std::string>& extra_env = {}) {
  // The extras come first: of two equal names, the first is the one read.
  std::vector<std::string> env_strings(extra_env);
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::dup2(in[0], STDIN_FILENO);
    if (capture_output) ::dup2(out[1], STDOUT_FILENO);
    setup();
    char* argv[] = {const_cast<char*>(QM_ENGINE_BINARY), nullptr};
    ::execve(QM_ENGINE_BINARY, argv, envp.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  std::signal(SIGPIPE, SIG_IGN);
  (void)!::write(in[1], input.data(), input.size());  // the engine may refuse to read
  ::close(in[1]);
  EngineRun run;
  char chunk[4096];
  ssize_t n;
  while ((n = ::read(out[0], chunk, sizeof chunk)) > 0) run.output.append(chunk, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

const std::string kTwoRequests = "{\"request\":1,\"command\":\"nope\"}\n{\"request\":2,\"command\":\"nope\"}\n";

TEST(ProcessStart, WithoutStandardOutputTheEngineStillServesAndExitsZero) {
  const EngineRun run = run_engine(kTwoRequests, [] { ::close(STDOUT_FILENO); }, false);
  EXPECT_EQ(run.status, 0);
}

TEST(ProcessStart, WithoutStandardInputTheEngineEndsAtOnceWithStatusZero) {
  const EngineRun run = run_engine("", [] { ::close(STDIN_FILENO); });
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "");
}

TEST(ProcessStart, AServedRunEndsWithStatusZeroAndOneReplyPerLine) {
  const EngineRun run = run_engine(kTwoRequests, [] {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output,
            "{\"error\":\"Unknown command\",\"request\":1}\n{\"error\":\"Unknown command\",\"request\":2}\n");
}

// The parallel work runs on one worker per online processor, at least 2 and at
// most 4, started before the first request is served.
TEST(ProcessStart, TheEngineServesWithTwoToFourWorkersForThisMachine) {
  test::EngineProcess engine;
  ASSERT_EQ(engine.request(R"({"request":1,"command":"summary"})").rfind(R"({"request":1,"result":)", 0), 0u);
  // The engine's threads by name (a sanitizer's runtime may add threads of its own).
  const std::string tasks_path = "/proc/" + std::to_string(engine.pid()) + "/task";
  std::size_t workers_seen = 0;
  DIR* tasks = ::opendir(tasks_path.c_str());
  ASSERT_NE(tasks, nullptr);
  while (const dirent* task = ::readdir(tasks)) {
    if (task->d_name[0] == '.') continue;
    std::ifstream comm(tasks_path + "/" + task->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    workers_seen += name == kWorkerThreadName;
  }
  ::closedir(tasks);
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  const std::size_t workers = online <= 2 ? 2 : online >= 4 ? 4 : static_cast<std::size_t>(online);
  EXPECT_EQ(workers_seen, workers);
  EXPECT_EQ(engine.finish(), 0);
}

// Its output pipe is widened before the first reply, so a reply of megabytes
// reaches the front end in a few reads.
TEST(ProcessStart, TheEngineWidensTheOutputPipeItIsGiven) {
  test::EngineProcess engine;
  ASSERT_EQ(engine.request(R"({"request":1,"command":"summary"})").rfind(R"({"request":1,"result":)", 0), 0u);
  // The same pipe, reached through the engine's standard output.
  const std::string output = "/proc/" + std::to_string(engine.pid()) + "/fd/1";
  const int fd = ::open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_GE(::fcntl(fd, F_GETPIPE_SZ), static_cast<int>(kOutputPipeBytes));
  ::close(fd);
  EXPECT_EQ(engine.finish(), 0);
}

// Started with a low soft descriptor limit, it raises its own toward the hard
// limit, so a scan can hold what it needs open.
TEST(ProcessStart, TheEngineRaisesALowSoftDescriptorLimit) {
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max <= 256) GTEST_SKIP() << "the hard limit leaves no room";
  struct rlimit lowered = saved;
  lowered.rlim_cur = 256;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  std::uint64_t engine_soft = 0;
  {
    test::EngineProcess engine;  // inherits the lowered limit
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_EQ(engine.request(R"({"request":1,"command":"summary"})").rfind(R"({"request":1,"result":)", 0), 0u);
    struct rlimit seen;
    ASSERT_EQ(::prlimit(engine.pid(), RLIMIT_NOFILE, nullptr, &seen), 0);
    engine_soft = seen.rlim_cur;
    EXPECT_EQ(engine.finish(), 0);
  }
  const std::uint64_t expected =
      raised_descriptor_limit(256, saved.rlim_max, RLIM_INFINITY, platform_descriptor_ceiling());
  EXPECT_GT(expected, 256u);
  EXPECT_EQ(engine_soft, expected);
}

TEST(ProcessStart, AClosedStandardDescriptorThatCannotBeHeldStopsTheStartWithoutServing) {
  if (test::kUnderSanitizer) GTEST_SKIP() << "a sanitizer's start-up spins when a descriptor limit leaves it no room";
  // With room for two descriptors and standard output closed, no pipe can hold
  // its number: serving would leave it free for the next directory opened.
  const EngineRun run = run_engine(kTwoRequests, [] {
    ::close(STDOUT_FILENO);
    const rlimit two{2, 2};
    if (::setrlimit(RLIMIT_NOFILE, &two) != 0) ::_exit(126);
  }, false);
  ASSERT_NE(run.status, 126) << "could not set the limit";
  EXPECT_EQ(run.status, 71);
}

TEST(ProcessStart, WhenWorkerThreadsCannotStartTheEngineExitsNonZeroWithoutServing) {
  if (::access(QM_ENGINE_BINARY, X_OK) != 0) GTEST_SKIP() << "engine binary not found";
  // An unprivileged user limited to one process cannot start any thread.
  const EngineRun run = run_engine(kTwoRequests, [] {
    const rlimit one{1, 1};
    if (::setrlimit(RLIMIT_NPROC, &one) != 0) ::_exit(126);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0) {
      ::_exit(126);
    }
  }, true, {"ASAN_OPTIONS=detect_leaks=0"});  // the leak checker would need a thread too
  ASSERT_NE(run.status, 126) << "could not drop privileges";
  if (run.status == 127) GTEST_SKIP() << "the unprivileged user cannot run the engine binary";
  EXPECT_NE(run.status, 0);
  EXPECT_EQ(run.output, "");
}

}  // namespace
}  // namespace qm
