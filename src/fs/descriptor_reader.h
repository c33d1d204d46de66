#pragma once
// The part the readers share: a reader that wraps each adopted directory
// descriptor in a directory object of its kind.
#include <memory>
#include <string_view>

#include "common/unique_fd.h"
#include "fs/directory_reader.h"

namespace qm {

// A reader whose open directories are Directory objects. Directory(fd) takes
// the descriptor over (it closes it from then on, and throws nothing after
// taking it); ok() tells whether it can be read.
template <class Directory>
class DescriptorReader final : public DirectoryReader {
 public:
  std::unique_ptr<OpenDirectory> adopt(UniqueFd fd, std::string_view) const override {
    // Allocated before the descriptor is handed over, so a failed allocation
    // leaves it with fd, which closes it.
    auto directory = std::make_unique<Directory>(std::move(fd));
    if (!directory->ok()) return nullptr;
    return directory;
  }
};

}  // namespace qm
