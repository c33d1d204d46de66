#include "protocol/commands.h"
#include "query/category.h"
#include "query/entry_lookup.h"
#include "query/largest_first.h"
#include "query/name_search.h"

namespace qm {
namespace {

constexpr std::size_t kLargePageSize = 100;

}  // namespace

// The biggest files of the index in one pass in id order: filtered by size and
// name, counted per category, listed for the selected category, largest first.
CommandResult large_command(Engine& engine, const LargeArgs& args) {
  const Index& index = engine.index;
  CategoryTable categories(args.categories);
  NameSearch search(args.search);

  const bool list_all = args.category == "all";
  // A category nobody has still counts the others but lists nothing.
  const std::size_t no_slot = categories.slot_count();
  const std::size_t selected_slot = list_all ? no_slot : categories.find_slot(args.category).value_or(no_slot);

  std::vector<std::uint64_t> counts(categories.slot_count(), 0);
  std::vector<SizedId> selected;
  const bool any_removed = !index.removed.empty();
  const EntryId count = index.count();
  for (EntryId id = 0; id < count; ++id) {
    const IndexEntry& entry = index.entry(id);
    if (entry.directory() || entry.size < args.minimum) continue;
    if (any_removed && index.is_removed(id)) continue;
    const std::string_view name = index.name(id);
    if (!search.matches(name)) continue;
    const std::size_t slot = categories.slot_of(name);
    ++counts[slot];
    if (list_all || slot == selected_slot) selected.push_back({entry.size, id});
  }
  // Built in id order, so the stable sort lists equal sizes by ascending id.
  sort_largest_first(selected);

  JsonObject counted;
  for (std::size_t slot = 0; slot < counts.size(); ++slot) {
    if (counts[slot] != 0) counted.insert(categories.slot_name(slot), counts[slot]);
  }
  const std::vector<EntryId> page = page_ids(selected, args.offset, kLargePageSize);
  JsonObject result;
  result.insert("categories", std::move(counted));
  result.insert("count", static_cast<std::uint64_t>(selected.size()));
  result.insert("items", entry_objects(collect_entry_page(index, page, 0, kLargePageSize)));
  return JsonValue(std::move(result));
}

}  // namespace qm
