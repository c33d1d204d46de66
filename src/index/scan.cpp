#include "index/scan.h"

#include <sys/stat.h>

#include <cstdlib>
#include <new>

#include "common/os_error.h"
#include "common/path_components.h"
#include "common/unique_fd.h"
#include "common/utf8.h"
#include "fs/directory_cursor.h"
#include "index/scan_walk.h"

namespace qm {
namespace {

// realpath of path as bytes, or the error text the scan fails with.
Result<std::string> canonical_path(const std::string& path) {
  if (path.find('\0') != std::string::npos) return CommandError{kNulByteError};
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return CommandError{last_os_error_text()};
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool is_directory_following_links(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

ScanFilters filters_from(const ScanRequest& request, const std::string& canonical_root) {
  ScanFilters filters;
  filters.retain = retain_rule_for_mode(request.mode);
  filters.minimum = request.minimum;
  filters.include_hidden = request.include_hidden;
  filters.root_is_file_system_root = is_file_system_root(canonical_root);
  for (const std::string& excluded : request.exclude_paths) {
    auto resolved = canonical_path(excluded);
    filters.exclude_paths.push_back(resolved ? lossy_utf8(*resolved) : excluded);
  }
  filters.exclude_names = request.exclude_names;
  return filters;
}

Result<ScanSummary> scan_into(Index& index, const ScanRequest& request, const ScanContext& context) {
  const Clock::TimePoint start = context.clock.now();
  auto root = canonical_path(request.root);
  if (!root) return std::move(root).take_error();
  if (!is_directory_following_links(*root)) return CommandError{kChooseDirectoryError};

  index.reset(lossy_utf8(*root), request.mode, *root);
  const ScanFilters filters = filters_from(request, *root);
  // The root's descriptor, the top every directory below is opened from. Its
  // entry is what that descriptor shows, so the walk starts from the object
  // it indexed. A root that cannot be opened (no read permission) is still
  // indexed from its lstat, and its listing counts as one error.
  const UniqueFd root_fd = open_directory_path(*root, false);
  auto root_entry = root_fd.get() >= 0 ? stat_descriptor(root_fd.get()) : stat_entry(*root);
  if (!root_entry) return std::move(root_entry).take_error();
  index.add(kNoEntry, lossy_utf8(entry_name_of(*root)), *root_entry);

  ScanWalk walk(index, filters, context, start);
  walk.allow_device(root_entry->file.device);
  if (filters.root_is_file_system_root) {
    for (const std::string_view path : context.rules.root_extra_devices) {
      if (auto extra = stat_entry(path)) walk.allow_device(extra->file.device);
    }
  }
  auto walked = walk.run(root_fd.get());
  if (!walked) {
    index.discard();
    return std::move(walked).take_error();
  }

  index.add_subtree_totals();
  index.set_elapsed_ms(whole_ms_between(start, context.clock.now()));
  return summarize(index);
}

}  // namespace

Result<ScanSummary> run_scan(Index& index, const ScanRequest& request, const ScanContext& context) {
  try {
    return scan_into(index, request, context);
  } catch (const std::bad_alloc&) {
    // Whatever the walk had added goes, which also gives the memory back for
    // the reply and the requests after it.
    index.discard();
    return CommandError{kScanOutOfMemoryError};
  }
}

}  // namespace qm
