#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/entry_id.h"

namespace qm {

// An id with its size beside it, so that sorting reads one array instead of the table.
struct SizedId {
  std::uint64_t size = 0;
  EntryId id = kNoEntry;
};

// Largest size first; a stable sort, so equal sizes keep the order they came in.
void sort_largest_first(std::vector<SizedId>& items);

// The ids of items[offset .. offset + limit), fewer at the end, none beyond it.
std::vector<EntryId> page_ids(const std::vector<SizedId>& items, std::uint64_t offset, std::size_t limit);

}  // namespace qm
