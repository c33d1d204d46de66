#pragma once
// A chain of directories deeper than PATH_MAX, made and removed relative to
// each level so that no call needs a full path: level k (1-based) is the
// directory `name` repeated k times below the base, and holds one file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace qm::test {

class DeepTree {
 public:
  static constexpr const char* kFileName = "file";
  static constexpr const char* kContent = "0123456789";  // in every level's file

  DeepTree(const std::string& base, int levels, std::size_t name_length = 20)
      : base_(base), levels_(levels), name_(name_length, 'd') {
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < levels && fd >= 0; ++level) {
      ::mkdirat(fd, name_.c_str(), 0755);
      const int next = ::openat(fd, name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      fd = next;
      if (fd < 0) break;
      const int file = ::openat(fd, kFileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (file >= 0) {
        const std::string content(kContent);
        [[maybe_unused]] const ssize_t written = ::write(file, content.data(), content.size());
        ::close(file);
      }
    }
    if (fd >= 0) ::close(fd);
  }
  ~DeepTree() {
    std::vector<int> fds{::open(base_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    for (int level = 0; level < levels_ && fds.back() >= 0; ++level) {
      fds.push_back(::openat(fds.back(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    for (std::size_t i = fds.size(); i-- > 0;) {
      if (fds[i] < 0) continue;
      if (i > 0) ::unlinkat(fds[i], kFileName, 0);
      ::unlinkat(fds[i], name_.c_str(), AT_REMOVEDIR);
      ::close(fds[i]);
    }
  }
  DeepTree(const DeepTree&) = delete;
  DeepTree& operator=(const DeepTree&) = delete;

  int levels() const { return levels_; }
  // The path of level k (0: the base).
  std::string path(int level) const {
    std::string path = base_;
    for (int k = 0; k < level; ++k) path += "/" + name_;
    return path;
  }
  std::string file_path(int level) const { return path(level) + "/" + kFileName; }

 private:
  std::string base_;
  int levels_;
  std::string name_;
};

}  // namespace qm::test
