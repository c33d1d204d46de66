#include "protocol/commands.h"
#include "query/entry_lookup.h"
#include "query/largest_first.h"

namespace qm {
namespace {

constexpr std::size_t kChildrenPageSize = 200;

}  // namespace

// The direct children of an item, largest first, one page of them. Works from the
// index alone; a file simply has no children.
CommandResult children_command(Engine& engine, std::uint64_t id, std::uint64_t offset) {
  const Index& index = engine.index;
  auto parent = lookup_entry(index, id);
  if (!parent) return std::move(parent).take_error();

  // The chain runs from the latest indexed child to the first; the stable sort keeps
  // that order among equal sizes.
  std::vector<SizedId> children;
  const bool any_removed = !index.removed.empty();
  for (EntryId child = index.entry(static_cast<EntryId>(id)).first_child; child != kNoEntry;
       child = index.entry(child).next_sibling) {
    if (any_removed && index.is_removed(child)) continue;
    children.push_back({index.entry(child).size, child});
  }
  sort_largest_first(children);

  const std::vector<EntryId> page = page_ids(children, offset, kChildrenPageSize);
  JsonObject result;
  result.insert("items", entry_objects(collect_entry_page(index, page, 0, kChildrenPageSize)));
  result.insert("parent", entry_object(*parent));
  return JsonValue(std::move(result));
}

}  // namespace qm
