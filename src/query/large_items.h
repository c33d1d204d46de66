#pragma once
// "large": the biggest files of the index, filtered by size and name, counted
// per category, listed for one category (or all), largest first, a page at a time.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "index/entry_lookup.h"
#include "index/index.h"
#include "query/category.h"

namespace qm {

inline constexpr std::size_t kLargePageSize = 100;
inline constexpr std::uint64_t kLargeItemsMinimum = 104857600;  // 100 MiB

struct LargeQuery {
  std::uint64_t minimum = kLargeItemsMinimum;
  std::string search;
  std::string category = "all";  // "all", or the one category to list
  std::vector<Category> categories;
  std::uint64_t offset = 0;
};

struct LargeItems {
  std::vector<std::pair<std::string, std::uint64_t>> category_counts;  // categories with files, in slot order
  std::uint64_t count = 0;  // files listed over all pages
  std::vector<Item> items;  // this page
};

// One pass over the table in id order. Equal sizes list by ascending id.
LargeItems list_large_items(const Index& index, const LargeQuery& query);

}  // namespace qm
