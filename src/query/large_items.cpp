#include "query/large_items.h"

#include "index/largest_first.h"
#include "query/name_search.h"

namespace qm {

LargeItems list_large_items(const Index& index, const LargeQuery& query) {
  CategoryTable categories(query.categories);
  NameSearch search(query.search);

  const bool list_all = query.category == "all";
  // A category nobody has still counts the others but lists nothing.
  const std::size_t no_slot = categories.slot_count();
  const std::size_t selected_slot = list_all ? no_slot : categories.find_slot(query.category).value_or(no_slot);

  std::vector<std::uint64_t> counts(categories.slot_count(), 0);
  std::vector<SizedId> selected;
  const bool any_removed = index.any_removed();
  const EntryId count = index.count();
  for (EntryId id = 0; id < count; ++id) {
    if (index.is_directory(id)) continue;
    const std::uint64_t size = index.size(id);
    if (size < query.minimum) continue;
    if (any_removed && index.is_removed(id)) continue;
    const std::string_view name = index.name(id);
    if (!search.matches(name)) continue;
    const std::size_t slot = categories.slot_of(name);
    ++counts[slot];
    if (list_all || slot == selected_slot) selected.push_back({size, id});
  }
  // Built in id order, so the stable sort lists equal sizes by ascending id.
  sort_largest_first(selected);

  LargeItems result;
  for (std::size_t slot = 0; slot < counts.size(); ++slot) {
    if (counts[slot] != 0) result.category_counts.emplace_back(categories.slot_name(slot), counts[slot]);
  }
  result.count = selected.size();
  const std::vector<EntryId> page = page_ids(selected, query.offset, kLargePageSize);
  result.items = collect_entry_page(index, page, 0, kLargePageSize);
  return result;
}

}  // namespace qm
