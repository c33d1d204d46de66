#include "fs/directory_reader.h"

#include <fcntl.h>

#include <cerrno>
#include <string>

#include "fs/descriptor_reader.h"

namespace qm {

int open_directory_descriptor(int at, std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return -1;
  const std::string c_path(path);
  int fd;
  do {
    fd = ::openat(at, c_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

const DirectoryReader& directory_reader_for(bool standard_readdir) {
  return standard_readdir ? portable_directory_reader() : fast_directory_reader();
}

std::string join_path(std::string_view directory, std::string_view name) {
  std::string path;
  path.reserve(directory.size() + 1 + name.size());
  path.append(directory);
  if (path.empty() || path.back() != '/') path.push_back('/');
  path.append(name);
  return path;
}

CompactListing list_directory(const DirectoryReader& reader, std::string_view path, RawPart& raw) {
  CompactListing listing;
  const std::unique_ptr<OpenDirectory> directory = reader.open(AT_FDCWD, path);
  if (!directory) {
    listing.errors = 1;
    return listing;
  }
  for (;;) {
    if (!directory->read_part(raw)) {
      listing.errors = 1;  // the parts before stand
      return listing;
    }
    if (raw.filled == 0) return listing;
    directory->decode_part(raw, listing);
  }
}

}  // namespace qm
