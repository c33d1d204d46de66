#include "fs/entry_metadata.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>

#include "common/os_error.h"
#include "common/utf8.h"

namespace qm {
namespace {

constexpr std::uint32_t kDatalessFlag = 0x40000000;

std::uint32_t file_flags(const struct stat& st) {
#if defined(__APPLE__)
  return st.st_flags;
#else
  (void)st;  // Linux has no per-file flags word; nothing is a dataless placeholder here.
  return 0;
#endif
}

}  // namespace

std::string identity_text(std::uint64_t device, std::uint64_t inode) {
  char buffer[48];
  char* end = std::to_chars(buffer, buffer + 20, device).ptr;
  *end++ = ':';
  end = std::to_chars(end, buffer + sizeof buffer, inode).ptr;
  return std::string(buffer, end);
}

std::uint64_t modified_nanoseconds(std::int64_t seconds, std::int64_t nanoseconds) {
  if (seconds <= 0 && seconds != INT64_MIN && nanoseconds > -1000000000 && nanoseconds < 0) {
    seconds -= 1;
    nanoseconds += 1000000000;
  }
  if (nanoseconds < 0 || nanoseconds > 999999999) return 0;
  if (seconds < 0) return 0;
  // Wraps on overflow: the low 64 bits of the exact nanosecond count.
  return static_cast<std::uint64_t>(seconds) * 1000000000ull + static_cast<std::uint64_t>(nanoseconds);
}

std::string_view entry_name_of(std::string_view path) {
  // Drop trailing separators and "." components (a leading "." stays).
  std::string_view rest = path;
  for (;;) {
    while (rest.size() > 1 && rest.back() == '/') rest.remove_suffix(1);
    if (rest.size() >= 2 && rest.substr(rest.size() - 2) == "/.") {
      rest.remove_suffix(1);
      continue;
    }
    break;
  }
  const auto slash = rest.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? rest : rest.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return path;
  return last;
}

Result<EntryMetadata> stat_entry(std::string_view path, std::uint64_t id, std::optional<EntryId> parent) {
  if (path.find('\0') != std::string_view::npos) return CommandError{kNulByteError};
  const std::string c_path(path);
  struct stat st;
  if (::lstat(c_path.c_str(), &st) != 0) return CommandError{last_os_error_text()};
  const auto type = st.st_mode & S_IFMT;
  if (type == S_IFLNK || (file_flags(st) & kDatalessFlag) || (type != S_IFREG && type != S_IFDIR)) {
    return CommandError{kNotAdmittedError};
  }
  EntryMetadata m;
  m.parent = parent;
  m.id = id;
  m.identity = identity_text(static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino));
  m.name = lossy_utf8(entry_name_of(path));
  m.path = lossy_utf8(path);
  m.directory = type == S_IFDIR;
  if (!m.directory) {
    m.size = static_cast<std::uint64_t>(st.st_size);
    m.allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
  }
  m.modified = modified_nanoseconds(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
  m.links = static_cast<std::uint64_t>(st.st_nlink);
  return m;
}

}  // namespace qm
