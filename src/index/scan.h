#pragma once
// "scan": canonicalise the root, reset the index, walk the tree into it and
// total the directories.
#include <cstdint>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/progress_sink.h"
#include "common/result.h"
#include "fs/directory_reader.h"
#include "index/index.h"
#include "index/platform_rules.h"
#include "index/scan_summary.h"

namespace qm {

inline constexpr const char* kIndexFullError = "Index exceeds addressable memory";
inline constexpr const char* kScanOutOfMemoryError = "Out of memory";
inline constexpr const char* kChooseDirectoryError = "Choose a directory";

// Mode "large" keeps the files of at least this size, whatever the minimum.
inline constexpr std::uint64_t kLargeFileSize = 10485760;  // 10 MiB
// The minimum of the other modes when the request gives none.
inline constexpr std::uint64_t kScanMinimum = 204800;

struct ScanRequest {
  std::string root;
  std::string mode = "analysis";
  std::uint64_t minimum = kScanMinimum;
  bool include_hidden = false;
  std::vector<std::string> exclude_paths;  // as given (the scan canonicalises them)
  std::vector<std::string> exclude_names;
};

// Knobs for tests; the engine uses the defaults.
struct WalkLimits {
  std::uint64_t max_entries = Index::kMaxEntries;  // the table holds ids 0 .. max_entries - 1
  // Directories listed ahead of the merge at most (1: strictly one after another).
  std::size_t window = 128;
  // Parts (buffer-fulls) of one directory read ahead of its merge at most.
  std::size_t parts_ahead = 8;
  // Listed directories held open for their subdirectories at most (and at
  // most half the descriptor limit): breadth first, that is about one level
  // of the tree's directories that have subdirectories.
  std::size_t parents_held = 16384;
};

// What a scan works with besides its request.
struct ScanContext {
  const DirectoryReader& directories;
  const Clock& clock;
  ProgressSink& progress;
  const PlatformRules& rules = platform_rules();
  WalkLimits limits = {};
};

// Scans request.root into index and returns the summary. Fails before the
// index is touched when the root cannot be resolved or is not a directory
// ("Choose a directory"); with kIndexFullError when the id limit is reached
// and kScanOutOfMemoryError when memory runs out. After either failure the
// index is empty, as before any scan (generation increased): a half-built
// table without directory totals is never left to answer queries from.
// The root is opened name by name from "/" and every directory below it from
// its parent, never through a symbolic link, so nothing outside the root is
// entered however the tree changes while it is walked.
Result<ScanSummary> run_scan(Index& index, const ScanRequest& request, const ScanContext& context);

}  // namespace qm
