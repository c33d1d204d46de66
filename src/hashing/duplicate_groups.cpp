#include "hashing/duplicate_groups.h"

#include <algorithm>
#include <utility>

#include "common/saturating.h"
#include "index/largest_first.h"

namespace qm {
namespace {

// Calls take(first, last) for every run of at least two equal elements of a sorted range.
template <class It, class Equal, class Take>
void for_each_shared_run(It first, It last, Equal equal, Take take) {
  while (first != last) {
    It run_end = first + 1;
    while (run_end != last && equal(*first, *run_end)) ++run_end;
    if (run_end - first >= 2) take(first, run_end);
    first = run_end;
  }
}

// Removes from ids (index order) every entry whose object an earlier entry
// already names. Runs of one size are short, so pairs are compared directly
// until a run is long enough for sorting to pay.
void keep_first_of_each_object(const Index& index, std::vector<EntryId>& ids) {
  constexpr std::size_t kCompareAllPairsUpTo = 16;
  if (ids.size() <= kCompareAllPairsUpTo) {
    FileId seen[kCompareAllPairsUpTo];
    std::size_t kept = 0;
    for (const EntryId id : ids) {
      const FileId file = index.file_id(id);
      if (std::find(seen, seen + kept, file) != seen + kept) continue;
      seen[kept] = file;
      ids[kept++] = id;
    }
    ids.resize(kept);
    return;
  }
  struct Named {
    FileId file;
    EntryId id;
  };
  std::vector<Named> named;
  named.reserve(ids.size());
  for (const EntryId id : ids) named.push_back({index.file_id(id), id});
  std::sort(named.begin(), named.end(), [](const Named& a, const Named& b) {
    if (a.file.device != b.file.device) return a.file.device < b.file.device;
    if (a.file.inode != b.file.inode) return a.file.inode < b.file.inode;
    return a.id < b.id;
  });
  std::vector<EntryId> firsts;
  for (std::size_t i = 0; i < named.size(); ++i) {
    if (i == 0 || named[i].file != named[i - 1].file) firsts.push_back(named[i].id);
  }
  std::sort(firsts.begin(), firsts.end());
  ids = std::move(firsts);
}

}  // namespace

std::vector<EntryId> size_collisions(const Index& index, std::uint64_t minimum) {
  std::vector<SizedId> candidates;
  for (EntryId id = 0; id < index.count(); ++id) {
    if (index.is_directory(id)) continue;
    const std::uint64_t size = index.size(id);
    if (size < minimum || !index.single_link(id) || index.is_removed(id)) continue;
    candidates.push_back({size, id});
  }
  // Ids were visited in ascending order, so a stable sort keeps index order within a size.
  sort_largest_first(candidates);
  std::vector<EntryId> colliding;
  std::vector<EntryId> run;
  for_each_shared_run(candidates.begin(), candidates.end(),
                      [](const SizedId& a, const SizedId& b) { return a.size == b.size; },
                      [&](auto first, auto last) {
                        run.clear();
                        for (; first != last; ++first) run.push_back(first->id);
                        keep_first_of_each_object(index, run);
                        if (run.size() >= 2) colliding.insert(colliding.end(), run.begin(), run.end());
                      });
  return colliding;
}

std::vector<StageFile> sample_collisions(const Index& index, std::vector<HashedEntry> sampled) {
  // Positions are sorted, not the records: a record carries three digests and
  // a continuation, and sorting thousands of them moved megabytes.
  struct Keyed {
    std::uint64_t size;
    std::uint32_t position;
  };
  std::vector<Keyed> order;
  order.reserve(sampled.size());
  for (std::size_t i = 0; i < sampled.size(); ++i) {
    order.push_back({index.size(sampled[i].id), static_cast<std::uint32_t>(i)});
  }
  std::sort(order.begin(), order.end(), [&](const Keyed& a, const Keyed& b) {
    if (a.size != b.size) return a.size > b.size;
    const HashedEntry& x = sampled[a.position];
    const HashedEntry& y = sampled[b.position];
    if (x.hash != y.hash) return x.hash < y.hash;
    if (x.id != y.id) return x.id < y.id;
    return a.position < b.position;
  });
  std::vector<StageFile> colliding;
  colliding.reserve(sampled.size());
  std::uint32_t group = 0;
  for_each_shared_run(order.begin(), order.end(),
                      [&](const Keyed& a, const Keyed& b) {
                        return a.size == b.size && sampled[a.position].hash == sampled[b.position].hash;
                      },
                      [&](auto first, auto last) {
                        for (; first != last; ++first) {
                          HashedEntry& entry = sampled[first->position];
                          colliding.emplace_back(entry.id, entry.content, group, entry.head, std::move(entry.continuation));
                        }
                        ++group;
                      });
  return colliding;
}

void order_group_members(std::vector<Item>& files) {
  // std::string compares as unsigned bytes, and a prefix sorts before its extensions.
  std::stable_sort(files.begin(), files.end(), [](const Item& a, const Item& b) {
    if (a.metadata.modified != b.metadata.modified) return a.metadata.modified < b.metadata.modified;
    return a.path < b.path;
  });
}

std::vector<DuplicateGroup> content_groups(const Index& index, std::vector<HashedEntry> hashed) {
  std::stable_sort(hashed.begin(), hashed.end(),
                   [](const HashedEntry& a, const HashedEntry& b) { return a.hash < b.hash; });
  std::vector<DuplicateGroup> groups;
  for_each_shared_run(hashed.begin(), hashed.end(),
                      [](const HashedEntry& a, const HashedEntry& b) { return a.hash == b.hash; },
                      [&](auto first, auto last) {
                        DuplicateGroup group;
                        for (auto it = first; it != last; ++it) {
                          auto found = lookup_entry(index, it->id);
                          if (found) group.files.push_back(std::move(found).value());
                        }
                        if (group.files.size() < 2) return;
                        order_group_members(group.files);
                        for (std::size_t i = 1; i < group.files.size(); ++i) {
                          group.reclaimable = saturating_add(group.reclaimable, group.files[i].metadata.allocated);
                        }
                        group.hash = std::move(first->hash);
                        groups.push_back(std::move(group));
                      });
  std::stable_sort(groups.begin(), groups.end(), [](const DuplicateGroup& a, const DuplicateGroup& b) {
    return a.reclaimable > b.reclaimable;
  });
  return groups;
}

}  // namespace qm
