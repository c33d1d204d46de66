// Index queries on a synthetic index of 10 million entries built in memory (no disk):
// "large" with and without a search text, "children" of a directory with one
// million children, and one lookup at depth 30.
//
// Shape: a root; "million" with 1,000,000 files; 9,000 directories of about 1,000
// files each; a chain of 30 nested directories ending in one file. Sizes: 99% of
// the files are below 1 MiB, 1% spread up to 4 GiB (so about 1% pass the default
// minimum of 100 MiB). One name in a hundred is not ASCII, one in a thousand
// contains "Report".
//
// Run: build with -DQM_BUILD_BENCHMARKS=ON, then build-*/bench/query_bench
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/commands.h"
#include "app/engine.h"
#include "index/entry_lookup.h"

namespace qm {
namespace {

constexpr std::uint32_t kTotalEntries = 10'000'000;
constexpr std::uint32_t kMillion = 1'000'000;
constexpr std::uint32_t kFilesPerDirectory = 1'000;
constexpr int kChainDepth = 30;

struct Synthetic {
  Engine engine;
  EntryId million = kNoEntry;
  EntryId deepest = kNoEntry;
};

// A small fast generator, so the index is the same on every run.
std::uint64_t next_random(std::uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

const char* const kExtensions[] = {"jpg", "JPG", "png", "mov", "mp4", "pdf", "txt", "zip", "tar.gz", "dmg", "log", ""};

std::string file_name(std::uint32_t n, std::uint64_t random) {
  std::string name;
  if (n % 100 == 7) {
    name = "Été_Übersicht_";
  } else if (n % 1000 == 3) {
    name = "Quarterly_Report_";
  } else {
    name = "IMG_";
  }
  name += std::to_string(n);
  const char* extension = kExtensions[random % std::size(kExtensions)];
  if (*extension != '\0') {
    name += '.';
    name += extension;
  }
  return name;
}

std::uint64_t file_size(std::uint64_t random) {
  if (random % 100 == 0) return (random >> 8) % (std::uint64_t{4} << 30);
  return (random >> 8) % (std::uint64_t{1} << 20);
}

void add_file(Index& index, EntryId parent, std::uint32_t n, std::uint64_t& state) {
  const std::uint64_t random = next_random(state);
  const std::string name = file_name(n, random);
  EntryMetadata entry;
  entry.size = file_size(random);
  entry.allocated = entry.size;
  entry.modified = 1'700'000'000'000'000'000ull + n;
  entry.file = {16777220, 1000 + std::uint64_t{n}};
  entry.links = 1;
  index.add(parent, name, entry);
}

EntryId add_directory(Index& index, EntryId parent, const std::string& name, std::uint64_t inode) {
  EntryMetadata entry;
  entry.file = {16777220, inode};
  entry.links = 2;
  entry.directory = true;
  return index.add(parent, name, entry);
}

Synthetic& synthetic() {
  static Synthetic* built = [] {
    auto* s = new Synthetic;
    Index& index = s->engine.index;
    index.reset("/Volumes/Data", "analysis");
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    add_directory(index, kNoEntry, "Data", 2);
    std::uint32_t n = 0;

    s->million = add_directory(index, 0, "million", 3);
    for (std::uint32_t i = 0; i < kMillion; ++i) add_file(index, s->million, n++, state);

    EntryId chain = 0;
    for (int level = 0; level < kChainDepth - 1; ++level) {
      chain = add_directory(index, chain, "level-" + std::to_string(level), 10 + static_cast<std::uint64_t>(level));
    }
    add_file(index, chain, n++, state);
    s->deepest = index.count() - 1;

    for (std::uint32_t d = 0; index.count() < kTotalEntries; ++d) {
      const EntryId dir = add_directory(index, 0, "folder-" + std::to_string(d), 100 + d);
      for (std::uint32_t i = 0; i < kFilesPerDirectory && index.count() < kTotalEntries; ++i) {
        add_file(index, dir, n++, state);
      }
    }
    // Directory totals are not needed by these queries; files carry their own sizes.
    return s;
  }();
  return *built;
}

// In key order, as a request's "categories" arrive.
std::vector<Category> categories_table() {
  return {{"archives", {"zip", "gz", "tar", "dmg", "7z"}},
          {"audio", {"mp3", "aac", "flac", "wav"}},
          {"documents", {"pdf", "doc", "docx", "txt", "pages"}},
          {"images", {"jpg", "jpeg", "png", "gif", "heic", "tiff"}},
          {"video", {"mov", "mp4", "mkv", "avi"}}};
}

void report_per_million(benchmark::State& state) {
  state.counters["entries"] = kTotalEntries;
  // An inverted rate is CPU seconds per (value x iterations), printed with an SI
  // prefix: "5.4m" here reads as 5.4 ms per million entries.
  state.counters["s_per_million_entries"] = benchmark::Counter(
      static_cast<double>(kTotalEntries) / 1e6,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void run_large(benchmark::State& state, const LargeQuery& args) {
  Synthetic& s = synthetic();
  std::uint64_t count = 0;
  for (auto _ : state) {
    auto reply = large_command(s.engine, args);
    count = reply->as_object().find("count")->as_unsigned();
    benchmark::DoNotOptimize(reply);
  }
  state.counters["listed"] = static_cast<double>(count);
  report_per_million(state);
}

void BM_LargeDefaultMinimum(benchmark::State& state) {
  LargeQuery args;
  args.categories = categories_table();
  run_large(state, args);
}

void BM_LargeSearchEveryFile(benchmark::State& state) {
  // Minimum 0, so every file name goes through the case-insensitive search.
  LargeQuery args;
  args.minimum = 0;
  args.search = "REPORT";
  args.categories = categories_table();
  run_large(state, args);
}

void BM_LargeSearchNonAscii(benchmark::State& state) {
  LargeQuery args;
  args.minimum = 0;
  args.search = "übersicht_12";
  args.categories = categories_table();
  run_large(state, args);
}

void BM_ChildrenOfAMillion(benchmark::State& state) {
  Synthetic& s = synthetic();
  for (auto _ : state) {
    auto reply = children_command(s.engine, s.million, 0);
    benchmark::DoNotOptimize(reply);
  }
}

void BM_LookupAtDepth30(benchmark::State& state) {
  Synthetic& s = synthetic();
  for (auto _ : state) {
    auto found = lookup_entry(s.engine.index, s.deepest);
    benchmark::DoNotOptimize(found);
  }
}

BENCHMARK(BM_LargeDefaultMinimum)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeSearchEveryFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeSearchNonAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChildrenOfAMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupAtDepth30)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qm
