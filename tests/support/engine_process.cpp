#include "support/engine_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qm::test {
namespace {

// A pipe whose ends close on exec. macOS has no pipe2; there the flag is set
// right after (the test process starts no other program meanwhile).
bool cloexec_pipe(int fds[2]) {
#ifdef __linux__
  return ::pipe2(fds, O_CLOEXEC) == 0;
#else
  if (::pipe(fds) != 0) return false;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return true;
#endif
}

}  // namespace

EngineProcess::EngineProcess(const std::vector<std::string>& extra_env) {
  int in_pipe[2], out_pipe[2];
  if (!cloexec_pipe(in_pipe) || !cloexec_pipe(out_pipe)) throw std::runtime_error("pipe");
  std::vector<std::string> env_strings;
  for (char** e = environ; *e; ++e) env_strings.emplace_back(*e);
  for (const auto& e : extra_env) env_strings.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::dup2(in_pipe[0], STDIN_FILENO);
    ::dup2(out_pipe[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(QM_ENGINE_BINARY), nullptr};
    ::execve(QM_ENGINE_BINARY, argv, envp.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  in_fd_ = in_pipe[1];
  out_fd_ = out_pipe[0];
}

EngineProcess::~EngineProcess() {
  if (in_fd_ >= 0) ::close(in_fd_);
  if (out_fd_ >= 0) ::close(out_fd_);
  if (pid_ > 0) {
    int status;
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
  }
}

void EngineProcess::send(const std::string& bytes) {
  log_.sent(bytes);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(in_fd_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("write to engine failed");
    done += static_cast<std::size_t>(n);
  }
}

std::optional<std::string> EngineProcess::read_line(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto newline = buffer_.find('\n');
    if (newline != std::string::npos) {
      std::string line = buffer_.substr(0, newline);
      buffer_.erase(0, newline + 1);
      log_.read_line(line);
      return line;
    }
    if (out_fd_ < 0) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd pfd{out_fd_, POLLIN, 0};
    if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[65536];
    const ssize_t n = ::read(out_fd_, chunk, sizeof chunk);
    if (n <= 0) return std::nullopt;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

std::string EngineProcess::request(const std::string& line, int timeout_ms) {
  send_line(line);
  auto reply = read_line(timeout_ms);
  if (!reply) throw std::runtime_error("no reply to " + line);
  return *reply;
}

int EngineProcess::finish(int timeout_ms) {
  if (in_fd_ >= 0) {
    ::close(in_fd_);
    in_fd_ = -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() > deadline) return -1;
    ::usleep(5000);
  }
}

void EngineProcess::close_output() {
  if (out_fd_ >= 0) {
    ::close(out_fd_);
    out_fd_ = -1;
  }
}

}  // namespace qm::test
