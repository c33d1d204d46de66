#include "support/index_builder.h"

#include <climits>
#include <cstdlib>
#include <deque>
#include <stdexcept>

#include "common/saturating.h"
#include "fs/dir_listing.h"

namespace qm::test {

void build_index_from_disk(Index& index, const std::string& root) {
  char resolved[PATH_MAX];
  if (!::realpath(root.c_str(), resolved)) throw std::runtime_error("realpath " + root);
  index.reset(resolved, "analysis");
  auto root_meta = stat_entry(resolved, 0, std::nullopt);
  if (!root_meta) throw std::runtime_error(root_meta.error());
  index.add(to_index_entry(*root_meta));
  std::deque<EntryId> queue{0};
  while (!queue.empty()) {
    const EntryId dir = queue.front();
    queue.pop_front();
    DirListing listing = list_directory(index.entry_path(dir), dir);
    index.errors += listing.errors;
    index.skipped += listing.skipped;
    for (const auto& m : listing.entries) {
      ++index.seen;
      const EntryId id = index.add(to_index_entry(m));
      if (m.directory) queue.push_back(id);
    }
  }
  for (EntryId id = index.count(); id-- > 1;) {
    IndexEntry& parent = index.entry(index.entry(id).parent);
    parent.size = saturating_add(parent.size, index.entry(id).size);
    parent.allocated = saturating_add(parent.allocated, index.entry(id).allocated);
  }
}

}  // namespace qm::test
