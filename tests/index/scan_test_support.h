#pragma once
// Small helpers shared by the index tests: running a scan, finding entries by path.
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "common/clock.h"
#include "common/progress_sink.h"
#include "fs/directory_reader.h"
#include "index/scan.h"

namespace qm::test {

inline ScanRequest scan_args(std::string root, std::string mode = "analysis", std::uint64_t minimum = 204800) {
  ScanRequest request;
  request.root = std::move(root);
  request.mode = std::move(mode);
  request.minimum = minimum;
  return request;
}

// A scan with the fast reader, the machine's clocks and no progress reports.
inline Result<ScanSummary> scan(Index& index, const ScanRequest& request, const WalkLimits& limits = {},
                                const DirectoryReader& reader = fast_directory_reader()) {
  static NoProgress no_progress;
  return run_scan(index, request, ScanContext{reader, system_clock(), no_progress, platform_rules(), limits});
}

// The id of the entry with this path (removed entries included), or kNoEntry.
inline EntryId find_entry(const Index& index, std::string_view path) {
  for (EntryId id = 0; id < index.count(); ++id) {
    if (index.entry_path(id) == path) return id;
  }
  return kNoEntry;
}

// st_blocks * 512 of a path, without following links.
inline std::uint64_t allocated_on_disk(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return UINT64_MAX;
  return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

}  // namespace qm::test
