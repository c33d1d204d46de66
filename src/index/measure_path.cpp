#include "index/measure_path.h"

#include <string>
#include <vector>

#include "common/saturating.h"
#include "fs/entry_metadata.h"

namespace qm {

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
  // Depth-first with an explicit stack: memory follows the directories waiting
  // at each level, not the depth of the tree.
  RawPart raw;
  std::vector<std::string> stack;
  stack.emplace_back(path);
  while (!stack.empty()) {
    const std::string directory = std::move(stack.back());
    stack.pop_back();
    const CompactListing listing = list_directory(reader, directory, raw);
    measure.errors = saturating_add(measure.errors, saturating_add(listing.errors, listing.skipped));
    for (std::size_t at = 0; at < listing.entries.size(); ++at) {
      const EntryMetadata& entry = listing.entries[at].metadata;
      if (entry.directory) {
        stack.push_back(join_path(directory, listing.os_name(at)));
      } else {
        measure.size = saturating_add(measure.size, entry.allocated);
      }
    }
  }
  return measure;
}

}  // namespace qm
