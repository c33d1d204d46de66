#pragma once
// Opening and reading files for their content, behind an interface so tests
// can count the files really opened or change a file between two reads.
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace qm {

class FileOpener {
 public:
  virtual ~FileOpener() = default;

  // Opens path read-only without following a final link, without blocking on
  // a fifo and closed on exec, resolved against the directory descriptor `at`
  // (AT_FDCWD: the working directory). A descriptor the caller closes, or -1
  // with errno set.
  virtual int open_for_reading(int at, const std::string& path) const;

  // One read(2) of up to length bytes at the file's position, retried while
  // interrupted: the count read, 0 at the end, -1 with errno set.
  virtual ssize_t read_some(int fd, unsigned char* buffer, std::size_t length) const;
};

// The system's open and read.
const FileOpener& system_file_opener();

}  // namespace qm
