#include "fs/directory_cursor.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "common/path_components.h"
#include "fs/stat_fields.h"

namespace qm {
namespace {

// O_PATH on Linux and O_SEARCH on macOS open a directory only to resolve
// names below it: no read permission is needed and no directory is opened
// for reading that will never be read.
#if defined(O_PATH)
constexpr int kSearchOnly = O_PATH;
#elif defined(O_SEARCH)
constexpr int kSearchOnly = O_SEARCH;
#else
constexpr int kSearchOnly = O_RDONLY;
#endif

int open_name(int at, std::string_view name, int flags) {
  if (name.find('\0') != std::string_view::npos) {
    errno = EINVAL;
    return -1;
  }
  // Names are short: most fit the stack buffer; a longer one is not a name
  // the system can have, and the open reports that.
  char buffer[256];
  std::string long_name;
  const char* c_name;
  if (name.size() < sizeof buffer) {
    name.copy(buffer, name.size());
    buffer[name.size()] = '\0';
    c_name = buffer;
  } else {
    long_name.assign(name);
    c_name = long_name.c_str();
  }
  int fd;
  do {
    fd = ::openat(at, c_name, flags | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

int open_directory_at(int at, std::string_view name) { return open_name(at, name, O_RDONLY | O_NONBLOCK); }

int open_search_directory_at(int at, std::string_view name) { return open_name(at, name, kSearchOnly); }

UniqueFd open_directory_path(std::string_view absolute, bool for_reading) {
  const PathComponents components = split_path_components(absolute);
  if (!components.absolute) {
    errno = EINVAL;
    return UniqueFd();
  }
  const auto open_one = [&](int at, std::string_view name, bool last) {
    return UniqueFd(last && for_reading ? open_directory_at(at, name) : open_search_directory_at(at, name));
  };
  UniqueFd current = open_one(AT_FDCWD, "/", components.parts.empty());
  for (std::size_t i = 0; i < components.parts.size() && current.get() >= 0; ++i) {
    current = open_one(current.get(), components.parts[i], i + 1 == components.parts.size());
  }
  return current;
}

bool descriptor_is(int fd, const FileId& file) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return false;
  return stat_device(st) == file.device && static_cast<std::uint64_t>(st.st_ino) == file.inode;
}

namespace {

// The last step opened for reading below at, checked when `check` is set.
UniqueFd open_target(int at, const DirectoryStep& step, bool check) {
  UniqueFd fd(open_directory_at(at, step.name));
  if (fd.get() >= 0 && check && !descriptor_is(fd.get(), step.file)) {
    errno = ESTALE;
    return UniqueFd();
  }
  return fd;
}

}  // namespace

DirectoryCursor::DirectoryCursor(int top, std::size_t max_held, HeldDirectories* shared)
    : top_(top), max_held_(std::max<std::size_t>(max_held, 1)), shared_(shared) {}

UniqueFd DirectoryCursor::open(std::span<const DirectoryStep> steps, bool check_last) {
  if (steps.empty()) return UniqueFd(open_directory_at(top_, "."));
  // Keep the held directories that are ancestors of the target: held_[k] is
  // steps[base_ + k] when its key says so, and then so is every one above it.
  const std::size_t parent_depth = steps.size() - 1;
  std::size_t keep = 0;
  if (parent_depth > base_) {
    for (std::size_t k = std::min(held_.size(), parent_depth - base_); k-- > 0;) {
      if (held_[k].key == steps[base_ + k].key) {
        keep = k + 1;
        break;
      }
    }
  }
  if (keep == 0) {
    held_.clear();  // nothing on the way is held: start again from the top
    base_ = 0;
  } else {
    held_.resize(keep);
  }
  // The parent, when this cursor does not hold it and another one opened it:
  // the target is opened from there, and this cursor's own chain stays as it
  // is for the directories after it.
  if (shared_ && parent_depth > 0 && base_ + held_.size() < parent_depth) {
    if (const auto parent = shared_->find(steps[parent_depth - 1].key)) {
      return open_target(parent->get(), steps[parent_depth], check_last);
    }
  }
  for (std::size_t depth = base_ + held_.size(); depth < steps.size(); ++depth) {
    const DirectoryStep& step = steps[depth];
    const int at = held_.empty() ? top_ : held_.back().fd->get();
    if (depth == parent_depth) return open_target(at, step, check_last);
    UniqueFd fd(open_search_directory_at(at, step.name));
    if (fd.get() < 0) return fd;
    if (!descriptor_is(fd.get(), step.file)) {
      errno = ESTALE;
      return UniqueFd();
    }
    auto held = std::make_shared<const UniqueFd>(std::move(fd));
    if (shared_) shared_->keep(step.key, held);
    held_.push_back({step.key, std::move(held)});
    if (held_.size() > max_held_) {
      held_.pop_front();
      ++base_;
    }
  }
  return UniqueFd();  // not reached: the loop returns at the target
}

}  // namespace qm
