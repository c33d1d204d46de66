#include "fs/portable_reader.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <memory>
#include <string>

#include "common/utf8.h"
#include "fs/listing_hook.h"
#include "fs/stat_record.h"

namespace qm {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Reads the directory stream and calls on_name for every entry but "." and "..".
// Returns the stream's error count: 1 when it cannot be opened, otherwise 1 when
// a read failed (the entries before it stand) and 0 when it was read to the end.
template <class OnName>
std::uint64_t read_stream(std::string_view path, OnName&& on_name) {
  if (path.find('\0') != std::string_view::npos) return 1;
  const std::unique_ptr<DIR, DirCloser> dir(::opendir(std::string(path).c_str()));
  if (!dir) return 1;
  bool first = true;
  for (;;) {
    errno = 0;
    const dirent* item = ::readdir(dir.get());
    if (!item) return errno != 0 ? 1 : 0;
    if (first) {
      run_listing_hook(path);
      first = false;
    }
    const char* name = item->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    on_name(std::string_view(name));
  }
}

}  // namespace

DirListing list_directory_portable(std::string_view path, EntryId parent) {
  DirListing listing;
  listing.errors = read_stream(path, [&](std::string_view name) {
    auto entry = stat_entry(join_path(path, name), 0, parent);
    if (entry) {
      listing.entries.push_back(std::move(entry).value());
    } else {
      ++listing.skipped;
    }
  });
  return listing;
}

CompactListing list_directory_compact_portable(std::string_view path) {
  // Same steps as stat_entry on the joined path, without building its texts:
  // the name of a joined path is the entry name itself.
  CompactListing listing;
  std::string joined(path);
  if (joined.empty() || joined.back() != '/') joined.push_back('/');
  const std::size_t prefix = joined.size();
  listing.errors = read_stream(path, [&](std::string_view name) {
    joined.resize(prefix);
    joined.append(name);
    struct stat st;
    if (::lstat(joined.c_str(), &st) != 0 || !stat_is_admitted(st)) {
      ++listing.skipped;
      return;
    }
    if (!add_listed_entry(listing, name, st)) ++listing.skipped;
  });
  return listing;
}

}  // namespace qm
