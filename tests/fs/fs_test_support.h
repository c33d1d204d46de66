#pragma once
// Small helpers shared by the file-system tests.
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include <climits>

#include "support/descriptors.h"
#include "support/file_ids.h"
#include "support/long_path_tree.h"
#include "support/temp_dir.h"
#include "support/test_name.h"

namespace qm::test {

inline void make_fifo(const std::string& path) {
  if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo " + path);
}

// A character device node like /dev/null's (the machine runs the tests as root).
inline void make_char_device(const std::string& path) {
  if (::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) throw std::runtime_error("mknod " + path);
}

// A socket file that stays behind after its descriptor is closed.
inline void make_socket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) throw std::runtime_error("socket path too long: " + path);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket");
  const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::close(fd);
  if (bound != 0) throw std::runtime_error("bind " + path);
}

// "<st_dev>:<st_ino>" of a path, read here independently of the engine.
inline std::string lstat_identity(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat " + path);
  return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(st.st_ino));
}

inline struct stat lstat_of(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat " + path);
  return st;
}

// Runs body in a child process that has dropped to the unprivileged user and
// group 65534, and returns the text the body produced. Root ignores file
// permissions, so permission failures can only be seen this way.
inline std::string run_unprivileged(const std::function<std::string()>& body) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t child = ::fork();
  if (child < 0) throw std::runtime_error("fork");
  if (child == 0) {
    ::close(pipe_fds[0]);
    std::string text;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
        ::setresuid(65534, 65534, 65534) != 0) {
      text = "could not drop privileges";
    } else {
      text = body();
    }
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(pipe_fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(pipe_fds[0], chunk, sizeof chunk);
    if (n > 0) {
      text.append(chunk, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text += "[child failed]";
  return text;
}

}  // namespace qm::test
