#pragma once
// Identities of files as the tests read them, independently of the engine.
#include <sys/stat.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "fs/entry_metadata.h"

namespace qm::test {

// The identity of a path as lstat shows it, and of an open descriptor.
inline FileId lstat_file_id(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) throw std::runtime_error("lstat " + path);
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

inline FileId fstat_file_id(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) throw std::runtime_error("fstat");
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace qm::test
