#include "support/temp_dir.h"

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace qm::test {
namespace {

void make_parents(const std::string& path) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
  }
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qm-test-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  char resolved[PATH_MAX];
  path_ = ::realpath(pattern.c_str(), resolved) ? resolved : pattern;
}

TempDir::~TempDir() { remove_tree(path_); }

std::string TempDir::operator/(std::string_view relative) const { return path_ + "/" + std::string(relative); }

std::string TempDir::make_dir(std::string_view relative) const {
  const std::string path = *this / relative;
  make_parents(path);
  ::mkdir(path.c_str(), 0755);
  return path;
}

std::string TempDir::write_file(std::string_view relative, std::string_view content) const {
  const std::string path = *this / relative;
  make_parents(path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n <= 0) {
      ::close(fd);
      throw std::runtime_error("cannot write " + path);
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return path;
}

std::string TempDir::make_sparse_file(std::string_view relative, unsigned long long size) const {
  const std::string path = *this / relative;
  make_parents(path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("cannot make sparse " + path);
  }
  ::close(fd);
  return path;
}

std::string TempDir::make_symlink(std::string_view relative, std::string_view target) const {
  const std::string path = *this / relative;
  make_parents(path);
  if (::symlink(std::string(target).c_str(), path.c_str()) != 0) throw std::runtime_error("symlink " + path);
  return path;
}

void set_mtime(const std::string& path, long long seconds, long nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = seconds;
  times[0].tv_nsec = nanoseconds;
  times[1] = times[0];
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

void remove_tree(const std::string& path) {
  // Make every directory writable first, so trees made read-only by tests go too.
  ::nftw(path.c_str(), [](const char* p, const struct stat* st, int type, FTW*) {
    if (type == FTW_D || type == FTW_DNR) ::chmod(p, (st->st_mode & 07777) | 0700);
    return 0;
  }, 64, FTW_PHYS);
  ::nftw(path.c_str(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p) == 0 ? 0 : 0; },
         64, FTW_DEPTH | FTW_PHYS);
}

}  // namespace qm::test
