#pragma once
// The breadth-first walk of "scan": lists directories on the pool ahead of the
// merge and merges the listings, in queue order, into the index.
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "common/result.h"
#include "fs/compact_listing.h"
#include "index/identity_set.h"
#include "index/index.h"
#include "index/listing_pipeline.h"
#include "index/scan.h"

namespace qm {

// What decides whether a file keeps an entry of its own.
enum class RetainRule : std::uint8_t {
  every_file,    // "analysis"
  large_files,   // "large": size >= kLargeFileSize
  unique_files,  // "duplicates": size >= minimum, one link, not a name the platform rules exclude
  minimum_size,  // any other mode: size >= minimum
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

// Walk state of one scan. Entry 0 must already be in the index.
class ScanWalk : private ListingMerger {
 public:
  ScanWalk(Index& index, const ScanFilters& filters, const ScanContext& context, Clock::TimePoint start);

  // Adds a device the walk may enter (the root's, and the platform's extra ones under "/").
  void allow_device(std::uint64_t device);

  // Walks everything below entry 0, whose directory is open at root (every
  // directory below is opened name by name from there). Fails only when the
  // id limit is hit; running out of memory throws std::bad_alloc.
  Result<bool> run(int root);

  // Applies the entry rules to one listing of directory dir (dir_path: its path
  // as text) and adds what is retained; false when the id limit was hit. This
  // is the whole merge step, open so tests can feed it listings of their own.
  bool merge_listing(const QueuedDirectory& dir, std::string_view dir_path, const CompactListing& listing);

 private:
  // A child that a path names: the path without its last component, and that component.
  struct ExcludedChild {
    std::string parent;
    std::string name;
  };
  // Names looked up as views; the texts belong to the filters or to excluded_children_.
  using NameSet = std::unordered_set<std::string_view>;

  // The pipeline's side: queued directories out, listed parts in.
  bool next_directory(QueuedDirectory& directory, std::string& path, std::vector<DirectoryStep>& steps) override;
  bool merge_part(const QueuedDirectory& directory, const std::string& path, const CompactListing& part,
                  bool last) override;

  bool device_allowed(std::uint64_t key) const;
  bool retained(const EntryMetadata& file, std::string_view name) const;
  void maybe_report_progress(std::string_view last_merged_path);

  Index& index_;
  const ScanFilters& filters_;
  const ScanContext& context_;
  WalkLimits limits_;
  std::string text_path_;  // reused when a listed path is not text
  Clock::TimePoint start_;
  Clock::TimePoint last_report_;

  std::vector<std::uint64_t> allowed_devices_;  // device keys
  IdentitySet visited_dirs_;                    // by device key
  IdentitySet seen_hardlinks_;
  // Directories found and not yet handed to the pipeline, in id order. Once
  // handed over, the pipeline keeps each one until its last part is merged.
  std::deque<QueuedDirectory> waiting_;

  // Excluded paths by their parent directory's path (with single separators,
  // as the walk writes directory paths), and excluded names: one hash lookup
  // per listing and per entry, however many the request gives.
  std::unordered_map<std::string, NameSet> excluded_children_;
  NameSet excluded_names_;
  std::vector<ExcludedChild> skipped_root_directories_;  // the platform's, in a scan of "/"

  // The last parent next_directory traced: its system path and its steps.
  struct TracedStep {
    EntryId id;
    std::size_t name_start;  // in parent_path_
    std::size_t name_length;
    FileId file;
  };
  void trace_parent(EntryId parent);
  EntryId parent_ = kNoEntry;
  std::string parent_path_;
  std::vector<TracedStep> parent_steps_;
  std::vector<EntryId> chain_;  // reused by trace_parent
};

}  // namespace qm
