#pragma once
// The breadth-first walk of "scan": lists directories on the pool ahead of the
// merge and merges the listings, in queue order, into the index on the calling thread.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "fs/dir_listing.h"
#include "index/identity_set.h"
#include "index/index.h"
#include "index/listing_pipeline.h"
#include "index/path_components.h"

namespace qm {

inline constexpr const char* kIndexFullError = "Index exceeds addressable memory";

// What decides whether a file keeps an entry of its own.
enum class RetainRule : std::uint8_t {
  every_file,      // "analysis"
  large_files,     // "large": size >= 10 MiB
  unique_files,    // "duplicates": size >= minimum, one link, not ".DS_Store"
  minimum_size,    // any other mode: size >= minimum
};

RetainRule retain_rule_for_mode(std::string_view mode);

// The filters of one scan, fixed before the walk.
struct ScanFilters {
  RetainRule retain = RetainRule::every_file;
  std::uint64_t minimum = 0;
  bool include_hidden = false;
  bool root_is_file_system_root = false;
  std::vector<std::string> exclude_paths;  // as text, canonical where realpath could resolve them
  std::vector<std::string> exclude_names;
};

// Knobs for tests; the command uses the defaults.
struct WalkLimits {
  std::uint64_t max_entries = Index::kMaxEntries;  // the table holds ids 0 .. max_entries - 1
  // Directories listed ahead of the merge at most (1: strictly one after another).
  std::size_t window = 128;
  // Parts (buffer-fulls) of one directory read ahead of its merge at most.
  std::size_t parts_ahead = 8;
};

// Walk state of one scan. Entry 0 must already be in the index.
class ScanWalk : private ListingMerger {
 public:
  using Clock = std::chrono::steady_clock;

  ScanWalk(Index& index, const ScanFilters& filters, const WalkLimits& limits, std::uint64_t request_id,
           Clock::time_point start);

  // Adds a device the walk may enter (the root's, and "/Users" under "/").
  void allow_device(std::uint64_t device);

  // Walks everything below entry 0. Fails only when the id limit is hit.
  Result<bool> run();

  // Applies the entry rules to one listing of directory dir (dir_path: its path
  // as text) and adds what is retained; false when the id limit was hit. This
  // is the whole merge step, open so tests can feed it listings of their own.
  bool merge_listing(EntryId dir, std::string_view dir_path, const CompactListing& listing);

 private:
  struct ExcludedChild {
    std::string parent;  // the excluded path without its last component
    std::size_t parent_depth = 0;
    std::string name;  // its last component
  };

  // The pipeline's side: queued directories out, listed parts in.
  bool next_directory(std::string& path) override;
  bool merge_part(const std::string& path, const CompactListing& part, bool last) override;

  bool device_allowed(std::uint64_t device) const;
  // The names excluded by path among this directory's children.
  void find_excluded_children(std::string_view dir_path);
  bool excluded_by_name(std::string_view name) const;
  void maybe_write_progress(std::string_view last_merged_path);

  Index& index_;
  const ScanFilters& filters_;
  WalkLimits limits_;
  std::uint64_t request_id_;
  std::string text_path_;  // reused when a listed path is not text
  Clock::time_point start_;
  Clock::time_point last_event_;

  std::vector<std::uint64_t> allowed_devices_;
  IdentitySet visited_dirs_;
  IdentitySet seen_hardlinks_;
  struct QueuedDirectory {
    EntryId id;
    bool raw_path;  // its system path differs from its text path (a name on it is not text)
  };
  std::vector<QueuedDirectory> queue_;  // directories in id order; merged up to queue_head_
  bool merging_raw_path_ = false;       // the directory being merged has a raw path
  std::size_t queue_head_ = 0;
  std::size_t next_to_submit_ = 0;  // position in queue_ of the next directory to list

  std::vector<ExcludedChild> excluded_children_;
  std::vector<std::string_view> excluded_here_;  // names excluded in the listing being merged
};

// Subtree totals: every entry's size and allocated added to its parent's, last id first.
void add_subtree_totals(Index& index);

}  // namespace qm
