#include "support/index_builder.h"

#include <climits>
#include <cstdlib>
#include <deque>
#include <stdexcept>

#include "common/utf8.h"
#include "support/reference_listing.h"

namespace qm::test {

void build_index_from_disk(Index& index, const std::string& root) {
  char resolved[PATH_MAX];
  if (!::realpath(root.c_str(), resolved)) throw std::runtime_error("realpath " + root);
  index.reset(resolved, "analysis");
  auto root_meta = stat_entry(resolved);
  if (!root_meta) throw std::runtime_error(root_meta.error());
  index.add(kNoEntry, lossy_utf8(entry_name_of(resolved)), *root_meta);
  std::deque<EntryId> queue{0};
  while (!queue.empty()) {
    const EntryId dir = queue.front();
    queue.pop_front();
    const ReferenceListing listing = list_reference(index.entry_path(dir));
    ScanCounts counts{0, listing.errors, listing.skipped};
    for (const ReferenceEntry& entry : listing.entries) {
      ++counts.seen;
      const EntryId id = index.add(dir, entry.name, entry.metadata);
      if (entry.metadata.directory) queue.push_back(id);
    }
    index.count(counts);
  }
  index.add_subtree_totals();
}

}  // namespace qm::test
