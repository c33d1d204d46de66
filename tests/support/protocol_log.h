#pragma once
#include <string_view>

namespace qm::test {

// Records one engine conversation for the protocol schema check: when the
// environment variable QM_PROTOCOL_LOG_DIR names a directory, every byte sent
// to the engine goes to <dir>/<test pid>-<n>.in and every line read from it
// to <dir>/<test pid>-<n>.out (with its line feed). Without the variable it
// records nothing. tests/support/validate_protocol_log.py checks the files
// against schema/.
class ProtocolLog {
 public:
  ProtocolLog();
  ~ProtocolLog();
  ProtocolLog(const ProtocolLog&) = delete;
  ProtocolLog& operator=(const ProtocolLog&) = delete;

  void sent(std::string_view bytes);
  void read_line(std::string_view line);

 private:
  int in_fd_ = -1;
  int out_fd_ = -1;
};

}  // namespace qm::test
