#include "index/forget_paths.h"

#include <vector>

#include "common/path_components.h"

namespace qm {
namespace {

// The entries reached by following names down from the root; several when
// siblings share a name (two names that differed only in invalid bytes).
std::vector<EntryId> resolve_below_root(const Index& index, std::span<const std::string_view> names) {
  std::vector<EntryId> frontier{0};
  std::vector<EntryId> next;
  for (const std::string_view name : names) {
    next.clear();
    for (const EntryId parent : frontier) {
      for (EntryId child = index.first_child(parent); child != kNoEntry; child = index.next_sibling(child)) {
        if (!index.is_removed(child) && index.name(child) == name) next.push_back(child);
      }
    }
    frontier.swap(next);
    if (frontier.empty()) break;
  }
  return frontier;
}

}  // namespace

void forget_paths(Index& index, std::span<const std::string_view> paths) {
  if (index.count() < 2) return;
  const PathComponents root = split_path_components(index.root());
  std::vector<EntryId> starts;
  bool everything = false;
  for (const std::string_view path : paths) {
    const PathComponents given = split_path_components(path);
    if (given.absolute != root.absolute) continue;  // a relative path names no entry
    const std::size_t shared = std::min(given.parts.size(), root.parts.size());
    bool diverges = false;
    for (std::size_t i = 0; i < shared && !diverges; ++i) diverges = given.parts[i] != root.parts[i];
    if (diverges) continue;
    if (given.parts.size() <= root.parts.size()) {
      everything = true;  // the root or a directory above it: every entry but the root
      continue;
    }
    const auto below = std::span(given.parts).subspan(root.parts.size());
    for (const EntryId id : resolve_below_root(index, below)) starts.push_back(id);
  }
  if (everything) {
    index.take_out(0);
    return;
  }
  for (const EntryId start : starts) index.take_out(start);
}

}  // namespace qm
