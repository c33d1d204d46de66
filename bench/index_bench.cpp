// forget and summary on a synthetic index shaped like a home directory of a
// million entries: 50 000 directories up to six levels deep, about twenty
// files each, names of 10 to 40 bytes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "common/path_components.h"
#include "index/forget_paths.h"
#include "index/scan_summary.h"

namespace qm {
namespace {

constexpr EntryId kDirectories = 50000;
constexpr EntryId kEntries = 1000000;

struct SyntheticIndex {
  Index index;
  std::vector<EntryId> leaf_directories;  // directories without subdirectories
  EntryId largest_top_directory = 0;
};

std::string random_name(std::mt19937_64& random, std::uint64_t serial) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz-_ .0123456789";
  std::string name(10 + random() % 31, 'x');
  for (char& c : name) c = kLetters[random() % (sizeof kLetters - 1)];
  return name + "~" + std::to_string(serial);  // unique among siblings
}

// Fills index with the synthetic tree; the same tree on every call.
void build(SyntheticIndex& synthetic) {
  // First the shape: a parent and a file count per directory, parents before children.
  std::mt19937_64 random(1);
  std::vector<std::uint32_t> parent_of{0};
  std::vector<int> depth{0};
  std::vector<std::uint32_t> files_in(kDirectories, 0);
  for (std::uint32_t i = 1; i < kDirectories; ++i) {
    std::uint32_t parent = static_cast<std::uint32_t>(random() % parent_of.size());
    while (depth[parent] >= 6) parent = static_cast<std::uint32_t>(random() % parent_of.size());
    parent_of.push_back(parent);
    depth.push_back(depth[parent] + 1);
  }
  for (EntryId i = kDirectories; i < kEntries; ++i) ++files_in[random() % kDirectories];
  std::vector<std::vector<std::uint32_t>> subdirectories(kDirectories);
  for (std::uint32_t i = 1; i < kDirectories; ++i) subdirectories[parent_of[i]].push_back(i);

  // Then the ids a breadth-first scan gives: each directory's children in one run.
  Index& index = synthetic.index;
  synthetic.leaf_directories.clear();
  synthetic.largest_top_directory = 0;
  index.reset("/Users/someone", "analysis");
  EntryMetadata root;
  root.directory = true;
  index.add(kNoEntry, "someone", root);
  std::vector<std::pair<std::uint32_t, EntryId>> queue{{0, 0}};  // (shape directory, id)
  std::string name;
  std::uint64_t serial = 0;
  for (std::size_t head = 0; head < queue.size(); ++head) {
    const auto [shape, id] = queue[head];
    if (subdirectories[shape].empty()) synthetic.leaf_directories.push_back(id);
    for (const std::uint32_t sub : subdirectories[shape]) {
      name = random_name(random, ++serial);
      EntryMetadata entry;
      entry.directory = true;
      entry.links = 1;
      entry.file = {1, serial};
      queue.emplace_back(sub, index.add(id, name, entry));
    }
    for (std::uint32_t f = 0; f < files_in[shape]; ++f) {
      name = random_name(random, ++serial);
      EntryMetadata entry;
      entry.size = random() % 200000;
      entry.allocated = (entry.size + 4095) / 4096 * 4096;
      entry.links = 1;
      entry.file = {1, serial};
      index.add(id, name, entry);
    }
  }
  index.add_subtree_totals();
  for (EntryId child = index.first_child(0); child != kNoEntry; child = index.next_sibling(child)) {
    if (index.is_directory(child) &&
        (synthetic.largest_top_directory == 0 || index.size(child) > index.size(synthetic.largest_top_directory))) {
      synthetic.largest_top_directory = child;
    }
  }
}

SyntheticIndex& synthetic_index() {
  static SyntheticIndex* built = [] {
    auto* synthetic = new SyntheticIndex;
    build(*synthetic);
    return synthetic;
  }();
  return *built;
}

// The index as it was before anything was forgotten.
void restore(SyntheticIndex& synthetic) { build(synthetic); }

std::size_t removed_count(const Index& index) {
  std::size_t removed = 0;
  for (EntryId id = 0; id < index.count(); ++id) removed += index.is_removed(id);
  return removed;
}

void BM_ForgetOneLeafDirectory(benchmark::State& state) {
  SyntheticIndex& synthetic = synthetic_index();
  std::size_t next = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (next == synthetic.leaf_directories.size()) {
      restore(synthetic);
      next = 0;
    }
    const std::string path = synthetic.index.entry_path(synthetic.leaf_directories[next++]);
    const std::string_view paths[] = {path};
    state.ResumeTiming();
    forget_paths(synthetic.index, paths);
  }
  restore(synthetic);
}
BENCHMARK(BM_ForgetOneLeafDirectory)->Unit(benchmark::kMicrosecond);

void BM_ForgetLargestTopDirectory(benchmark::State& state) {
  SyntheticIndex& synthetic = synthetic_index();
  const std::string path = synthetic.index.entry_path(synthetic.largest_top_directory);
  const std::string_view paths[] = {path};
  for (auto _ : state) {
    forget_paths(synthetic.index, paths);
    state.PauseTiming();
    state.counters["removed"] = static_cast<double>(removed_count(synthetic.index));
    restore(synthetic);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ForgetLargestTopDirectory)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ForgetTheRootPath(benchmark::State& state) {
  SyntheticIndex& synthetic = synthetic_index();
  const std::string_view paths[] = {"/Users/someone"};
  for (auto _ : state) {
    forget_paths(synthetic.index, paths);
    state.PauseTiming();
    restore(synthetic);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ForgetTheRootPath)->Unit(benchmark::kMillisecond)->Iterations(20);

// The straightforward way, for comparison: every path rebuilt and compared.
void BM_ForgetOneLeafDirectoryByRebuildingEveryPath(benchmark::State& state) {
  SyntheticIndex& synthetic = synthetic_index();
  Index& index = synthetic.index;
  const std::string given = index.entry_path(synthetic.leaf_directories[0]);
  std::string path;
  for (auto _ : state) {
    for (EntryId id = 1; id < index.count(); ++id) {
      if (index.is_removed(id)) continue;
      path.clear();
      index.append_entry_path(id, path);
      if (!starts_with_path_components(path, given)) continue;
      index.take_out(id);  // each match on its own: a file lowers its ancestors, a directory its subtree
    }
    state.PauseTiming();
    restore(synthetic);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ForgetOneLeafDirectoryByRebuildingEveryPath)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Summary(benchmark::State& state) {
  SyntheticIndex& synthetic = synthetic_index();
  for (auto _ : state) benchmark::DoNotOptimize(summarize(synthetic.index));
}
BENCHMARK(BM_Summary)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qm
