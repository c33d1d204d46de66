#pragma once
// The part the readers share: opening a directory descriptor, and a reader
// that wraps each opened descriptor in a directory object of its kind.
#include <unistd.h>

#include <memory>
#include <string_view>

#include "fs/directory_reader.h"

namespace qm {

// Opens the directory at path, resolved against the descriptor at, for
// reading: a descriptor, or -1 (a path with a NUL byte is never opened).
// Interrupted opens are retried.
int open_directory_descriptor(int at, std::string_view path);

// A reader whose open directories are Directory objects. Directory(fd, at,
// path) takes fd as the last step of its constructor (it closes fd from then
// on, and throws nothing after taking it); ok() tells whether it can be read.
template <class Directory>
class DescriptorReader final : public DirectoryReader {
 public:
  std::unique_ptr<OpenDirectory> open(int at, std::string_view path) const override {
    const int fd = open_directory_descriptor(at, path);
    if (fd < 0) return nullptr;
    std::unique_ptr<Directory> directory;
    try {
      directory = std::make_unique<Directory>(fd, at, path);
    } catch (...) {
      ::close(fd);  // never reached the object that would own it
      throw;
    }
    if (!directory->ok()) return nullptr;
    return directory;
  }
};

}  // namespace qm
