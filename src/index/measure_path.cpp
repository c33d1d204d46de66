#include "index/measure_path.h"

#include <fcntl.h>

#include <string>
#include <vector>

#include "common/saturating.h"
#include "common/unique_fd.h"
#include "fs/directory_cursor.h"
#include "fs/entry_metadata.h"

namespace qm {
namespace {

// Directory descriptors one measurement keeps for the directories above the next ones.
constexpr std::size_t kHeldDirectories = 32;

// A directory found and not yet listed: how deep it is and its step from the
// directory above.
struct Pending {
  std::size_t depth = 0;  // 1: a child of the measured directory
  std::string name;
  FileId file;
};

// The directories from the measured one down to the one listed last, by depth.
struct Level {
  std::uint64_t key = 0;
  std::string name;
  FileId file;
};

}  // namespace

PathMeasure measure_path(std::string_view path, const DirectoryReader& reader) {
  PathMeasure measure;
  auto top = stat_entry(path);
  if (!top) {
    measure.errors = 1;
    return measure;
  }
  if (!top->directory) {
    measure.size = top->allocated;
    return measure;
  }
  // The measured directory itself, which must still be the one just examined;
  // below it every directory is opened from its parent by name, so nothing
  // outside the path is entered whatever is swapped in meanwhile, and depth
  // has no path length limit.
  const UniqueFd top_fd(open_directory_at(AT_FDCWD, path));
  if (top_fd.get() < 0 || !descriptor_is(top_fd.get(), top->file)) {
    measure.errors = 1;
    return measure;
  }
  DirectoryCursor cursor(top_fd.get(), kHeldDirectories);
  RawPart raw;
  std::string named;  // the directory's path, for the reader (never opened)
  const auto list = [&](UniqueFd fd) {
    std::unique_ptr<OpenDirectory> open;
    if (fd.get() >= 0) open = reader.adopt(std::move(fd), named);
    return list_open_directory(std::move(open), raw);  // none: one error
  };
  const auto add_listing = [&](const CompactListing& listing, std::size_t depth, std::vector<Pending>& stack) {
    measure.errors = saturating_add(measure.errors, saturating_add(listing.errors, listing.skipped));
    for (std::size_t at = 0; at < listing.entries.size(); ++at) {
      const EntryMetadata& entry = listing.entries[at].metadata;
      if (entry.directory) {
        stack.push_back({depth + 1, std::string(listing.os_name(at)), entry.file});
      } else {
        measure.size = saturating_add(measure.size, entry.allocated);
      }
    }
  };

  // Depth-first with an explicit stack: memory follows the directories waiting
  // at each level, not the depth of the tree. The directory popped at depth d
  // is a child of the one listed last at depth d - 1, so `levels` holds the
  // way down to it.
  std::vector<Pending> stack;
  std::vector<Level> levels;
  std::vector<DirectoryStep> steps;
  std::uint64_t next_key = 0;
  named.assign(path);
  add_listing(list(cursor.open({})), 0, stack);
  while (!stack.empty()) {
    Pending directory = std::move(stack.back());
    stack.pop_back();
    levels.resize(directory.depth - 1);
    levels.push_back({next_key++, std::move(directory.name), directory.file});
    steps.clear();
    named.assign(path);
    for (const Level& level : levels) {
      steps.push_back({level.key, level.name, level.file});
      if (named.empty() || named.back() != '/') named.push_back('/');
      named.append(level.name);
    }
    add_listing(list(cursor.open(steps)), directory.depth, stack);
  }
  return measure;
}

}  // namespace qm
