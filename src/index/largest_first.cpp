#include "index/largest_first.h"

#include <algorithm>

namespace qm {

void sort_largest_first(std::vector<SizedId>& items) {
  std::stable_sort(items.begin(), items.end(), [](const SizedId& a, const SizedId& b) { return a.size > b.size; });
}

std::vector<EntryId> page_ids(const std::vector<SizedId>& items, std::uint64_t offset, std::size_t limit) {
  std::vector<EntryId> ids;
  if (offset >= items.size()) return ids;
  const auto first = static_cast<std::size_t>(offset);
  const std::size_t end = first + std::min(limit, items.size() - first);
  ids.reserve(end - first);
  for (std::size_t i = first; i < end; ++i) ids.push_back(items[i].id);
  return ids;
}

}  // namespace qm
