#include "fs/file_opener.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qm {

int FileOpener::open_for_reading(int at, const std::string& path) const {
  return ::openat(at, path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

ssize_t FileOpener::read_some(int fd, unsigned char* buffer, std::size_t length) const {
  ssize_t n;
  do {
    n = ::read(fd, buffer, length);
  } while (n < 0 && errno == EINTR);
  return n;
}

const FileOpener& system_file_opener() {
  static const FileOpener opener;
  return opener;
}

}  // namespace qm
