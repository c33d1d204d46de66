#pragma once
#include <span>
#include <string_view>

#include "index/index.h"

namespace qm {

// Takes every entry whose path starts with one of paths (by whole components)
// out of the index (Index::take_out), and lowers the totals of the directories above each file
// taken out by its size and allocated bytes, stopping at 0. Entry 0 is never
// taken out; entries already taken out are left as they are.
//
// Each path is resolved from the root down by name instead of rebuilding the
// path of every entry, so the cost follows the entries taken out and the
// children met on the way, not the size of the table.
void forget_paths(Index& index, std::span<const std::string_view> paths);

}  // namespace qm
