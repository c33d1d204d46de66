#pragma once
// "children": the direct children of an item, largest first, a page at a time.
#include <cstdint>
#include <vector>

#include "common/result.h"
#include "index/entry_lookup.h"
#include "index/index.h"

namespace qm {

inline constexpr std::size_t kChildrenPageSize = 200;

struct ChildrenPage {
  Item parent;
  std::vector<Item> items;  // at most kChildrenPageSize
};

// Works from the index alone; a file simply has no children. Equal sizes keep
// the chain order (the child added last first). Fails as lookup_entry does.
Result<ChildrenPage> list_children(const Index& index, std::uint64_t id, std::uint64_t offset);

}  // namespace qm
