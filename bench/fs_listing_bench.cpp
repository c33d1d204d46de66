// Walks a tree single-threaded, breadth first, the way the scan lists it, and
// prints the time and what was seen. Not a Google Benchmark program: one walk
// of a large tree is the unit, and bench/fs_listing_vs_walk.sh compares it
// with the floor program, round by round.
//
// usage: fs_listing_bench [-m fast|portable] [-r ROUNDS] DIR
//   fast      list_directory with the fast reader (default)
//   portable  list_directory with the portable reader (QUILLMARSH_STANDARD_READDIR)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fs/directory_reader.h"

namespace {

struct Totals {
  std::uint64_t directories = 1;  // the root
  std::uint64_t files = 0;
  std::uint64_t skipped = 0;
  std::uint64_t errors = 0;
  std::uint64_t allocated = 0;
  std::uint64_t bytes = 0;
};

Totals walk(const std::string& root, const qm::DirectoryReader& reader) {
  Totals totals;
  qm::RawPart raw;
  std::vector<std::string> level{root};
  std::vector<std::string> next;
  while (!level.empty()) {
    next.clear();
    for (const std::string& dir : level) {
      const qm::CompactListing listing = qm::list_directory(reader, dir, raw);
      totals.errors += listing.errors;
      totals.skipped += listing.skipped;
      for (std::size_t at = 0; at < listing.entries.size(); ++at) {
        const qm::EntryMetadata& m = listing.entries[at].metadata;
        totals.allocated += m.allocated;
        if (m.directory) {
          ++totals.directories;
          next.push_back(qm::join_path(dir, listing.os_name(at)));
        } else {
          ++totals.files;
          totals.bytes += m.size;
        }
      }
    }
    level.swap(next);
  }
  return totals;
}

void usage() {
  std::fprintf(stderr, "usage: fs_listing_bench [-m fast|portable] [-r ROUNDS] DIR\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = "fast";
  int rounds = 1;
  int opt;
  while ((opt = ::getopt(argc, argv, "m:r:")) != -1) {
    if (opt == 'm') {
      mode = optarg;
    } else if (opt == 'r') {
      rounds = std::atoi(optarg);
    } else {
      usage();
    }
  }
  if (optind != argc - 1 || rounds < 1) usage();
  if (mode != "fast" && mode != "portable") usage();
  const std::string root = argv[optind];

  const qm::DirectoryReader& reader = qm::directory_reader_for(mode == "portable");
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    const Totals t = walk(root, reader);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "mode=%s seconds=%.3f entries=%llu dirs=%llu files=%llu skipped=%llu errors=%llu allocated=%llu "
        "file_bytes=%llu\n",
        mode.c_str(), seconds, static_cast<unsigned long long>(t.directories + t.files + t.skipped),
        static_cast<unsigned long long>(t.directories), static_cast<unsigned long long>(t.files),
        static_cast<unsigned long long>(t.skipped), static_cast<unsigned long long>(t.errors),
        static_cast<unsigned long long>(t.allocated), static_cast<unsigned long long>(t.bytes));
  }
  return 0;
}
