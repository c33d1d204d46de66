#pragma once
#include <dirent.h>

#include <stdexcept>

namespace qm::test {

// Descriptors this process holds open right now (the count's own is left out).
inline int open_descriptor_count() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (!dir) throw std::runtime_error("cannot read /proc/self/fd");
  int count = 0;
  while (const dirent* item = ::readdir(dir)) {
    if (item->d_name[0] != '.') ++count;
  }
  ::closedir(dir);
  return count - 1;
}

}  // namespace qm::test
