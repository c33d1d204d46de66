#include "index/scan_walk.h"

#include <algorithm>

#include "common/saturating.h"
#include "index/progress_event.h"
#include "protocol/json_writer.h"

namespace qm {
namespace {

constexpr std::uint64_t kLargeFileSize = 10485760;
constexpr auto kProgressSpacing = std::chrono::milliseconds(120);

// One device number whichever reader produced it: stat_entry widens a 32-bit
// device with its sign, the bulk reader prints it unsigned, so a device at or
// above 2^31 would otherwise look like two file systems.
std::uint64_t device_key(std::uint64_t device) {
  return (device >> 32) == 0xFFFFFFFFu ? (device & 0xFFFFFFFFu) : device;
}

bool retained_by_size(RetainRule rule, std::uint64_t minimum, const ListedEntry& file, std::uint64_t links,
                      std::string_view name) {
  switch (rule) {
    case RetainRule::every_file:
      return true;
    case RetainRule::large_files:
      return file.size >= kLargeFileSize;
    case RetainRule::unique_files:
      return file.size >= minimum && links == 1 && name != ".DS_Store";
    case RetainRule::minimum_size:
      return file.size >= minimum;
  }
  return true;
}

std::size_t component_count(std::string_view path) { return split_path_components(path).parts.size(); }

}  // namespace

RetainRule retain_rule_for_mode(std::string_view mode) {
  if (mode == "analysis") return RetainRule::every_file;
  if (mode == "large") return RetainRule::large_files;
  if (mode == "duplicates") return RetainRule::unique_files;
  return RetainRule::minimum_size;
}

ScanWalk::ScanWalk(Index& index, const ScanFilters& filters, const WalkLimits& limits,
                   std::uint64_t request_id, Clock::time_point start)
    : index_(index),
      filters_(filters),
      limits_(limits),
      request_id_(request_id),
      start_(start),
      last_event_(Clock::now()) {
  if (limits_.window == 0) limits_.window = 1;
  for (const std::string& excluded : filters_.exclude_paths) {
    const PathComponents components = split_path_components(excluded);
    // A relative path or "/" can never equal the path of a listed entry.
    if (!components.absolute || components.parts.empty()) continue;
    ExcludedChild child;
    child.parent.push_back('/');
    for (std::size_t i = 0; i + 1 < components.parts.size(); ++i) {
      if (i > 0) child.parent.push_back('/');
      child.parent.append(components.parts[i]);
    }
    child.parent_depth = components.parts.size() - 1;
    child.name = std::string(components.parts.back());
    excluded_children_.push_back(std::move(child));
  }
  // The root is in the index and on the queue; it was visited by admission.
  const IndexEntry& root = index_.entry(0);
  visited_dirs_.insert(device_key(index_.device(0)), root.inode);
  queue_.push_back({0, index_.os_root != index_.root});
}

void ScanWalk::allow_device(std::uint64_t device) {
  const std::uint64_t key = device_key(device);
  if (!device_allowed(key)) allowed_devices_.push_back(key);
}

bool ScanWalk::device_allowed(std::uint64_t key) const {
  return std::find(allowed_devices_.begin(), allowed_devices_.end(), key) != allowed_devices_.end();
}

void ScanWalk::find_excluded_children(std::string_view dir_path) {
  excluded_here_.clear();
  if (excluded_children_.empty()) return;
  const std::size_t depth = component_count(dir_path);
  for (const ExcludedChild& child : excluded_children_) {
    if (child.parent_depth == depth && same_path_components(dir_path, child.parent)) {
      excluded_here_.push_back(child.name);
    }
  }
}

bool ScanWalk::excluded_by_name(std::string_view name) const {
  for (const std::string& excluded : filters_.exclude_names) {
    if (excluded == name) return true;
  }
  return false;
}

bool ScanWalk::merge_listing(EntryId dir, std::string_view dir_path, const CompactListing& listing) {
  index_.errors = saturating_add(index_.errors, listing.errors);
  index_.skipped = saturating_add(index_.skipped, listing.skipped);
  find_excluded_children(dir_path);
  // "/Volumes" and "/System/Volumes" are left out of a scan of "/": the only
  // listings that can hold them are those of "/" and "/System".
  const bool volumes_here =
      filters_.root_is_file_system_root && (dir_path == "/" || dir_path == "/System");
  const bool check_names = !filters_.exclude_names.empty();
  IndexEntry& parent = index_.entry(dir);  // chunks never move, so this stays valid

  auto raw_name = listing.raw_names.begin();  // in entry order, like the loop
  for (std::size_t at = 0; at < listing.entries.size(); ++at) {
    const ListedEntry& listed = listing.entries[at];
    const bool name_is_raw = raw_name != listing.raw_names.end() && raw_name->entry == at;
    const std::string_view os_name = name_is_raw ? std::string_view((raw_name++)->bytes) : std::string_view();
    ++index_.seen;
    const std::string_view name = listing.name(listed);
    if (!excluded_here_.empty() &&
        std::find(excluded_here_.begin(), excluded_here_.end(), name) != excluded_here_.end()) {
      ++index_.skipped;
      continue;
    }
    if (check_names && excluded_by_name(name)) {
      ++index_.skipped;
      continue;
    }
    const std::uint64_t device = device_key(listed.device);
    if (!device_allowed(device)) {
      ++index_.skipped;
      continue;
    }
    std::uint64_t allocated = listed.allocated;
    if (listed.directory) {
      if (volumes_here && name == "Volumes") {
        ++index_.skipped;
        continue;
      }
      if (!filters_.include_hidden && !name.empty() && name.front() == '.') {
        ++index_.skipped;
        continue;
      }
      if (!visited_dirs_.insert(device, listed.inode)) {
        ++index_.skipped;
        continue;
      }
    } else {
      // The first copy met of a hard-linked file carries its blocks.
      if (listed.links != 1 && !seen_hardlinks_.insert(device, listed.inode)) allocated = 0;
      if (!retained_by_size(filters_.retain, filters_.minimum, listed, listed.links, name)) {
        parent.size = saturating_add(parent.size, listed.size);
        parent.allocated = saturating_add(parent.allocated, allocated);
        continue;
      }
    }
    if (index_.count() >= limits_.max_entries) return false;
    NewEntry entry;
    entry.name = name;
    entry.size = listed.size;
    entry.allocated = allocated;
    entry.modified = listed.modified;
    entry.device = listed.device;
    entry.inode = listed.inode;
    entry.links = listed.links;
    entry.parent = dir;
    entry.directory = listed.directory;
    const EntryId id = index_.add(entry);
    if (name_is_raw) index_.set_raw_name(id, os_name);
    if (listed.directory) queue_.push_back({id, merging_raw_path_ || name_is_raw});
  }
  return true;
}

void ScanWalk::maybe_write_progress(std::string_view last_merged_path) {
  const Clock::time_point now = Clock::now();
  if (now - last_event_ < kProgressSpacing) return;
  last_event_ = now;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count();
  write_json_line(scan_progress_event(request_id_, index_.seen, index_.errors, index_.skipped,
                                      static_cast<std::uint64_t>(elapsed), std::string(last_merged_path)));
}

Result<bool> ScanWalk::run() {
  ListingPipeline pipeline(*this, limits_.window, limits_.parts_ahead);
  if (!pipeline.run()) return CommandError{kIndexFullError};
  return true;
}

bool ScanWalk::next_directory(std::string& path) {
  if (next_to_submit_ >= queue_.size()) return false;
  const QueuedDirectory& next = queue_[next_to_submit_++];
  if (next.raw_path) {
    index_.append_os_path(next.id, path);
  } else {
    index_.append_entry_path(next.id, path);
  }
  return true;
}

bool ScanWalk::merge_part(const std::string& path, const CompactListing& part, bool last) {
  const EntryId dir = queue_[queue_head_].id;
  merging_raw_path_ = queue_[queue_head_].raw_path;
  std::string_view dir_path = path;  // the path as the system names it
  if (merging_raw_path_) {
    text_path_.clear();
    index_.append_entry_path(dir, text_path_);
    dir_path = text_path_;
  }
  if (!merge_listing(dir, dir_path, part)) return false;
  maybe_write_progress(dir_path);
  if (!last) return true;
  ++queue_head_;
  // Drop the merged front now and then, so the queue holds only what waits.
  if (queue_head_ >= 4096 && queue_head_ * 2 >= queue_.size()) {
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(queue_head_));
    next_to_submit_ -= queue_head_;
    queue_head_ = 0;
  }
  return true;
}

void add_subtree_totals(Index& index) {
  for (EntryId id = index.count(); id-- > 1;) {
    const IndexEntry& child = index.entry(id);
    IndexEntry& parent = index.entry(child.parent);
    parent.size = saturating_add(parent.size, child.size);
    parent.allocated = saturating_add(parent.allocated, child.allocated);
  }
}

}  // namespace qm
