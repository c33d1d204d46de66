#include "support/reference_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>

#include "common/utf8.h"
#include "fs/compact_listing.h"

namespace qm::test {

ReferenceListing list_reference(std::string_view path) {
  ReferenceListing listing;
  if (path.find('\0') != std::string_view::npos) {
    listing.errors = 1;
    return listing;
  }
  // A link as the last component is never followed: the directory cannot be opened.
  struct stat link;
  if (::lstat(std::string(path).c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    listing.errors = 1;
    return listing;
  }
  struct Close {
    void operator()(DIR* dir) const { ::closedir(dir); }
  };
  const std::unique_ptr<DIR, Close> dir(::opendir(std::string(path).c_str()));
  if (!dir) {
    listing.errors = 1;
    return listing;
  }
  for (;;) {
    errno = 0;
    const dirent* item = ::readdir(dir.get());
    if (!item) {
      if (errno != 0) listing.errors = 1;
      return listing;
    }
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    const std::string joined = join_path(path, name);
    auto metadata = stat_entry(joined);
    if (!metadata) {
      ++listing.skipped;
      continue;
    }
    listing.entries.push_back({lossy_utf8(name), lossy_utf8(joined), *metadata});
  }
}

}  // namespace qm::test
