#pragma once
#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace qm {

// Sorts items by less and keeps, of items that compare equal, the one that came
// last. Input that is already in order (the usual case) is only compacted.
template <class T, class Less>
void sort_keeping_last(std::vector<T>& items, Less less) {
  if (!std::is_sorted(items.begin(), items.end(), less)) std::stable_sort(items.begin(), items.end(), less);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i + 1 < items.size() && !less(items[i], items[i + 1])) continue;  // an equal one follows
    if (kept != i) items[kept] = std::move(items[i]);
    ++kept;
  }
  items.erase(items.begin() + static_cast<std::ptrdiff_t>(kept), items.end());
}

}  // namespace qm
