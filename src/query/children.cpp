#include "query/children.h"

#include "index/largest_first.h"

namespace qm {

Result<ChildrenPage> list_children(const Index& index, std::uint64_t id, std::uint64_t offset) {
  auto parent = lookup_entry(index, id);
  if (!parent) return std::move(parent).take_error();

  // The chain runs from the latest indexed child to the first; the stable sort keeps
  // that order among equal sizes.
  std::vector<SizedId> children;
  const bool any_removed = index.any_removed();
  for (EntryId child = index.first_child(static_cast<EntryId>(id)); child != kNoEntry;
       child = index.next_sibling(child)) {
    if (any_removed && index.is_removed(child)) continue;
    children.push_back({index.size(child), child});
  }
  sort_largest_first(children);

  const std::vector<EntryId> page = page_ids(children, offset, kChildrenPageSize);
  return ChildrenPage{std::move(parent).value(), collect_entry_page(index, page, 0, kChildrenPageSize)};
}

}  // namespace qm
