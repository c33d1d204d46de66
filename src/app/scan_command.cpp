#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <new>

#include "common/os_error.h"
#include "common/utf8.h"
#include "index/run_scan.h"
#include "index/scan_summary.h"
#include "protocol/commands.h"

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

ScanFilters filters_from(const ScanArgs& args, const std::string& canonical_root) {
  ScanFilters filters;
  filters.retain = retain_rule_for_mode(args.mode);
  filters.minimum = args.minimum;
  filters.include_hidden = args.include_hidden;
  filters.root_is_file_system_root = is_file_system_root(canonical_root);
  for (const std::string& excluded : args.exclude_paths) {
    auto resolved = canonical_path(excluded);
    filters.exclude_paths.push_back(resolved ? lossy_utf8(*resolved) : excluded);
  }
  filters.exclude_names = args.exclude_names;
  return filters;
}

}  // namespace

CommandResult run_scan(Index& index, const ScanArgs& args, std::uint64_t request_id, const WalkLimits& limits) {
  const auto start = ScanWalk::Clock::now();
  auto root = canonical_path(args.root);
  if (!root) return std::move(root).take_error();
  if (!is_directory_following_links(*root)) return CommandError{"Choose a directory"};

  index.reset(lossy_utf8(*root), args.mode, *root);
  const ScanFilters filters = filters_from(args, *root);
  auto root_entry = stat_entry(*root, 0, std::nullopt);
  if (!root_entry) return std::move(root_entry).take_error();
  index.add(to_index_entry(*root_entry));

  ScanWalk walk(index, filters, limits, request_id, start);
  walk.allow_device(index.device(0));
  if (filters.root_is_file_system_root) {
    if (auto users = stat_entry("/Users", 0, std::nullopt)) walk.allow_device(to_index_entry(*users).device);
  }
  auto walked = walk.run();
  if (!walked) return std::move(walked).take_error();

  add_subtree_totals(index);
  index.elapsed_ms = static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(ScanWalk::Clock::now() - start).count());
  return scan_summary(index);
}

CommandResult scan_command(Engine& engine, const ScanArgs& args, std::uint64_t request_id) {
  try {
    return run_scan(engine.index, args, request_id, WalkLimits{});
  } catch (const std::bad_alloc&) {
    // Memory ran out before the id limit did: the same answer, with the index
    // kept as far as it got.
    return CommandError{kIndexFullError};
  }
}

}  // namespace qm
