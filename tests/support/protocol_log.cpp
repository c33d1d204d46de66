#include "support/protocol_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>

namespace qm::test {
namespace {

int open_log(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
}

void append(int fd, std::string_view bytes) {
  while (fd >= 0 && !bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) return;  // a lost log line shows up as a pairing failure in the check
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

ProtocolLog::ProtocolLog() {
  const char* dir = std::getenv("QM_PROTOCOL_LOG_DIR");
  if (dir == nullptr || *dir == '\0') return;
  static std::atomic<unsigned> conversations{0};
  ::mkdir(dir, 0755);
  const std::string base = std::string(dir) + "/" + std::to_string(::getpid()) + "-" + std::to_string(++conversations);
  in_fd_ = open_log(base + ".in");
  out_fd_ = open_log(base + ".out");
}

ProtocolLog::~ProtocolLog() {
  if (in_fd_ >= 0) ::close(in_fd_);
  if (out_fd_ >= 0) ::close(out_fd_);
}

void ProtocolLog::sent(std::string_view bytes) { append(in_fd_, bytes); }

void ProtocolLog::read_line(std::string_view line) {
  append(out_fd_, line);
  append(out_fd_, "\n");
}

}  // namespace qm::test
