#pragma once
#include <unistd.h>

namespace qm {

// Owns one file descriptor and closes it on every path out of its scope.
// A negative descriptor (a failed open) owns nothing.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace qm
