#include "index/forget_paths.h"

#include <vector>

#include "common/saturating.h"
#include "index/path_components.h"

namespace qm {
namespace {

struct Totals {
  std::uint64_t size = 0;
  std::uint64_t allocated = 0;

  void add(std::uint64_t more_size, std::uint64_t more_allocated) {
    size = saturating_add(size, more_size);
    allocated = saturating_add(allocated, more_allocated);
  }
};

void subtract(IndexEntry& entry, const Totals& totals) {
  entry.size = saturating_sub(entry.size, totals.size);
  entry.allocated = saturating_sub(entry.allocated, totals.allocated);
}

// The entries reached by following names down from the root; several when
// siblings share a name (two names that differed only in invalid bytes).
std::vector<EntryId> resolve_below_root(const Index& index, std::span<const std::string_view> names) {
  std::vector<EntryId> frontier{0};
  std::vector<EntryId> next;
  for (const std::string_view name : names) {
    next.clear();
    for (const EntryId parent : frontier) {
      for (EntryId child = index.entry(parent).first_child; child != kNoEntry;
           child = index.entry(child).next_sibling) {
        if (!index.is_removed(child) && index.name(child) == name) next.push_back(child);
      }
    }
    frontier.swap(next);
    if (frontier.empty()) break;
  }
  return frontier;
}

// Marks start's subtree removed (start itself unless it is entry 0) and lowers
// every directory inside it by the files taken out below it. Returns the totals
// of the files taken out. Subtracting a sum saturating at 0 gives what
// subtracting file by file gives, so each directory is touched once.
Totals remove_subtree(Index& index, EntryId start) {
  Totals taken;
  const IndexEntry& first = index.entry(start);
  if (start != 0) index.removed.insert(start);
  if (!first.directory()) {
    taken.add(first.size, first.allocated);
    return taken;
  }
  struct Frame {
    EntryId directory;
    EntryId next_child;
    Totals below;
  };
  std::vector<Frame> stack;
  stack.push_back({start, first.first_child, {}});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next_child != kNoEntry) {
      const EntryId child = top.next_child;
      const IndexEntry& entry = index.entry(child);
      top.next_child = entry.next_sibling;
      // Removed sets are closed downwards: a removed child's subtree is done already.
      if (!index.removed.insert(child)) continue;
      if (entry.directory()) {
        stack.push_back({child, entry.first_child, {}});
      } else {
        top.below.add(entry.size, entry.allocated);
      }
      continue;
    }
    const Frame done = top;
    stack.pop_back();
    subtract(index.entry(done.directory), done.below);
    if (stack.empty()) {
      taken = done.below;
    } else {
      stack.back().below.add(done.below.size, done.below.allocated);
    }
  }
  return taken;
}

void forget_from(Index& index, EntryId start) {
  if (start != 0 && index.is_removed(start)) return;  // an earlier path took it out
  const Totals taken = remove_subtree(index, start);
  if (start == 0) return;
  for (EntryId at = index.entry(start).parent; at != kNoEntry; at = index.entry(at).parent) {
    subtract(index.entry(at), taken);
  }
}

}  // namespace

void forget_paths(Index& index, std::span<const std::string_view> paths) {
  if (index.count() < 2) return;
  const PathComponents root = split_path_components(index.root);
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
    forget_from(index, 0);
    return;
  }
  for (const EntryId start : starts) forget_from(index, start);
}

}  // namespace qm
