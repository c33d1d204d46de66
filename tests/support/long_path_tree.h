#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "support/temp_dir.h"

namespace qm::test {

// A file whose full path exceeds PATH_MAX while its directory's does not: a
// reader must stat names relative to the open directory to admit it.
class LongPathTree {
 public:
  explicit LongPathTree(const TempDir& dir) : directory_(dir.path()) {
    while (directory_.size() + 201 <= PATH_MAX - 50) {
      directory_ += "/" + std::string(200, 'd');
      ::mkdir(directory_.c_str(), 0755);
    }
    const int dir_fd = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int fd = ::openat(dir_fd, name_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
    ::close(dir_fd);
  }
  ~LongPathTree() {
    // Too long for the temp dir's own clean-up.
    const int dir_fd = ::open(directory_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::unlinkat(dir_fd, name_.c_str(), 0);
    ::close(dir_fd);
  }
  LongPathTree(const LongPathTree&) = delete;
  LongPathTree& operator=(const LongPathTree&) = delete;
  const std::string& directory() const { return directory_; }
  const std::string& name() const { return name_; }

 private:
  std::string directory_;
  std::string name_ = std::string(250, 'f');
};

}  // namespace qm::test
