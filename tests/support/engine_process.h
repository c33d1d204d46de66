#pragma once
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/protocol_log.h"

namespace qm::test {

// The real engine binary as a child process, driven through its pipes.
class EngineProcess {
 public:
  // extra_env: "NAME=value" strings added to the inherited environment.
  explicit EngineProcess(const std::vector<std::string>& extra_env = {});
  ~EngineProcess();
  EngineProcess(const EngineProcess&) = delete;
  EngineProcess& operator=(const EngineProcess&) = delete;

  // Writes raw bytes to the engine's standard input.
  void send(const std::string& bytes);
  // Writes one request line (a line feed is added).
  void send_line(const std::string& line) { send(line + "\n"); }
  // Reads the next output line (without its line feed); nullopt at end of output
  // or after timeout_ms without a complete line.
  std::optional<std::string> read_line(int timeout_ms = 30000);
  // send_line + read_line.
  std::string request(const std::string& line, int timeout_ms = 30000);

  // Closes standard input and waits for the exit status (-1 on timeout or signal).
  int finish(int timeout_ms = 30000);
  // Closes the engine's stdout reading end (our side).
  void close_output();
  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  int in_fd_ = -1;
  int out_fd_ = -1;
  std::string buffer_;
  ProtocolLog log_;
};

}  // namespace qm::test
