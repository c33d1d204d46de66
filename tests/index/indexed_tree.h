#pragma once
// A temporary tree on disk and an index built from it.
#include <string>
#include <string_view>

#include "index/index.h"
#include "support/index_builder.h"
#include "support/temp_dir.h"

namespace qm::test {

struct IndexedTree {
  TempDir dir;
  Index table;

  void index() { build_index_from_disk(table, dir.path()); }

  // The id of the entry at a path relative to the tree ("" is the root); kNoEntry when absent.
  EntryId id_of(std::string_view relative) const {
    const std::string wanted = relative.empty() ? dir.path() : dir / relative;
    const Index& index = table;
    for (EntryId id = 0; id < index.count(); ++id) {
      if (index.entry_path(id) == wanted) return id;
    }
    return kNoEntry;
  }
};

}  // namespace qm::test
