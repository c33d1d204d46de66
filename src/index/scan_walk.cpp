#include "index/scan_walk.h"

#include <algorithm>

#include "common/path_components.h"

namespace qm {

RetainRule retain_rule_for_mode(std::string_view mode) {
  if (mode == "analysis") return RetainRule::every_file;
  if (mode == "large") return RetainRule::large_files;
  if (mode == "duplicates") return RetainRule::unique_files;
  return RetainRule::minimum_size;
}

ScanWalk::ScanWalk(Index& index, const ScanFilters& filters, const ScanContext& context, Clock::TimePoint start)
    : index_(index),
      filters_(filters),
      context_(context),
      limits_(context.limits),
      start_(start),
      last_report_(context.clock.now()) {
  if (limits_.window == 0) limits_.window = 1;
  std::string parent;
  for (const std::string& excluded : filters_.exclude_paths) {
    const PathComponents components = split_path_components(excluded);
    // A relative path or "/" can never equal the path of a listed entry.
    if (!components.absolute || components.parts.empty()) continue;
    parent.assign(1, '/');
    for (std::size_t i = 0; i + 1 < components.parts.size(); ++i) {
      if (i > 0) parent.push_back('/');
      parent.append(components.parts[i]);
    }
    // The name is a view into the filters' text, which outlives the walk.
    excluded_children_[parent].insert(components.parts.back());
  }
  for (const std::string& name : filters_.exclude_names) excluded_names_.insert(name);
  if (filters_.root_is_file_system_root) {
    for (const std::string_view path : context_.rules.root_skipped_directories) {
      const auto slash = path.rfind('/');
      skipped_root_directories_.push_back(
          {std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash)), std::string(path.substr(slash + 1))});
    }
  }
  // The root is in the index and on the queue; it was visited by admission.
  const FileId root = index_.file_id(0);
  visited_dirs_.insert({context_.rules.device_key(root.device), root.inode});
  waiting_.push_back({0, index_.os_root() != index_.root()});
}

void ScanWalk::allow_device(std::uint64_t device) {
  const std::uint64_t key = context_.rules.device_key(device);
  if (!device_allowed(key)) allowed_devices_.push_back(key);
}

bool ScanWalk::device_allowed(std::uint64_t key) const {
  return std::find(allowed_devices_.begin(), allowed_devices_.end(), key) != allowed_devices_.end();
}

bool ScanWalk::retained(const EntryMetadata& file, std::string_view name) const {
  switch (filters_.retain) {
    case RetainRule::every_file:
      return true;
    case RetainRule::large_files:
      return file.size >= kLargeFileSize;
    case RetainRule::unique_files: {
      if (file.size < filters_.minimum || file.links != 1) return false;
      const auto& names = context_.rules.not_duplicate_names;
      return std::find(names.begin(), names.end(), name) == names.end();
    }
    case RetainRule::minimum_size:
      return file.size >= filters_.minimum;
  }
  return true;
}

bool ScanWalk::merge_listing(const QueuedDirectory& dir, std::string_view dir_path, const CompactListing& listing) {
  ScanCounts counted{0, listing.errors, listing.skipped};
  // Directory paths come from the root and names joined by single separators,
  // the form the excluded parents are kept in.
  const NameSet* excluded_here = nullptr;
  if (!excluded_children_.empty()) {
    const auto found = excluded_children_.find(std::string(dir_path));
    if (found != excluded_children_.end()) excluded_here = &found->second;
  }
  // The platform's directories left out of a scan of "/" sit in listings whose
  // path is exactly their parent's.
  std::string_view skipped_here;
  for (const ExcludedChild& skipped : skipped_root_directories_) {
    if (dir_path == skipped.parent) skipped_here = skipped.name;
  }
  const bool check_names = !excluded_names_.empty();
  bool within_limit = true;

  auto raw_name = listing.raw_names.begin();  // in entry order, like the loop
  for (std::size_t at = 0; at < listing.entries.size(); ++at) {
    const ListedEntry& listed = listing.entries[at];
    const EntryMetadata& m = listed.metadata;
    const bool name_is_raw = raw_name != listing.raw_names.end() && raw_name->entry == at;
    const std::string_view os_name = name_is_raw ? std::string_view((raw_name++)->bytes) : std::string_view();
    ++counted.seen;
    const std::string_view name = listing.name(listed);
    if ((excluded_here && excluded_here->contains(name)) || (check_names && excluded_names_.contains(name))) {
      ++counted.skipped;
      continue;
    }
    const FileId key{context_.rules.device_key(m.file.device), m.file.inode};
    if (!device_allowed(key.device)) {
      ++counted.skipped;
      continue;
    }
    EntryMetadata kept = m;
    if (m.directory) {
      const bool hidden = !filters_.include_hidden && !name.empty() && name.front() == '.';
      if ((!skipped_here.empty() && name == skipped_here) || hidden || !visited_dirs_.insert(key)) {
        ++counted.skipped;
        continue;
      }
    } else {
      // The first copy met of a hard-linked file carries its blocks.
      if (m.links != 1 && !seen_hardlinks_.insert(key)) kept.allocated = 0;
      if (!retained(m, name)) {
        index_.fold_into(dir.id, kept.size, kept.allocated);
        continue;
      }
    }
    if (index_.count() >= limits_.max_entries) {
      within_limit = false;
      break;
    }
    const EntryId id = index_.add(dir.id, name, kept);
    if (name_is_raw) index_.set_raw_name(id, os_name);
    if (m.directory) waiting_.push_back({id, dir.raw_path || name_is_raw});
  }
  index_.count(counted);
  return within_limit;
}

void ScanWalk::maybe_report_progress(std::string_view last_merged_path) {
  const Clock::TimePoint now = context_.clock.now();
  if (now - last_report_ < kProgressSpacing) return;
  last_report_ = now;
  const ScanCounts& counts = index_.counts();
  context_.progress.indexing(
      {counts.seen, counts.errors, counts.skipped, whole_ms_between(start_, now), last_merged_path});
}

Result<bool> ScanWalk::run(int root) {
  ListingPipeline pipeline(*this, context_.directories, root, limits_.window, limits_.parts_ahead,
                           limits_.parents_held);
  if (!pipeline.run()) return CommandError{kIndexFullError};
  return true;
}

void ScanWalk::trace_parent(EntryId parent) {
  parent_ = parent;
  parent_path_.assign(index_.os_root());
  parent_steps_.clear();
  chain_.clear();
  for (EntryId at = parent; at != 0; at = index_.parent(at)) chain_.push_back(at);
  for (std::size_t i = chain_.size(); i-- > 0;) {
    if (parent_path_.empty() || parent_path_.back() != '/') parent_path_.push_back('/');
    const std::string_view name = index_.os_name(chain_[i]);
    parent_steps_.push_back({chain_[i], parent_path_.size(), name.size(), index_.file_id(chain_[i])});
    parent_path_.append(name);
  }
}

bool ScanWalk::next_directory(QueuedDirectory& directory, std::string& path, std::vector<DirectoryStep>& steps) {
  if (waiting_.empty()) return false;
  directory = waiting_.front();
  waiting_.pop_front();
  if (directory.id == 0) {
    path.assign(index_.os_root());
    return true;
  }
  // The path as the system names it, and one step per directory below the
  // root, each naming its part of that path. Siblings come one after another,
  // so their parent's part is traced once for all of them.
  const EntryId parent = index_.parent(directory.id);
  if (parent != parent_) trace_parent(parent);
  path.assign(parent_path_);
  if (path.empty() || path.back() != '/') path.push_back('/');
  const std::size_t name_start = path.size();
  path.append(index_.os_name(directory.id));
  const std::string_view whole(path);
  for (const TracedStep& step : parent_steps_) {
    steps.push_back({step.id, whole.substr(step.name_start, step.name_length), step.file});
  }
  steps.push_back({directory.id, whole.substr(name_start), index_.file_id(directory.id)});
  return true;
}

bool ScanWalk::merge_part(const QueuedDirectory& directory, const std::string& path, const CompactListing& part,
                          bool /*last*/) {
  std::string_view dir_path = path;  // the path as the system names it
  if (directory.raw_path) {
    text_path_.clear();
    index_.append_entry_path(directory.id, text_path_);
    dir_path = text_path_;
  }
  if (!merge_listing(directory, dir_path, part)) return false;
  maybe_report_progress(dir_path);
  return true;
}

}  // namespace qm
