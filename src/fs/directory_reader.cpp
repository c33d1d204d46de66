#include "fs/directory_reader.h"

#include <fcntl.h>

#include <string>

#include "fs/descriptor_reader.h"
#include "fs/directory_cursor.h"

namespace qm {

std::unique_ptr<OpenDirectory> DirectoryReader::open(int at, std::string_view path) const {
  UniqueFd directory(open_directory_at(at, path));
  if (directory.get() < 0) return nullptr;
  return adopt(std::move(directory), path);
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
  return list_open_directory(reader.open(AT_FDCWD, path), raw);
}

CompactListing list_open_directory(std::unique_ptr<OpenDirectory> directory, RawPart& raw) {
  CompactListing listing;
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
