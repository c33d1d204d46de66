#include "fs/entry_metadata.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <string>

#include "common/os_error.h"
#include "fs/stat_record.h"

namespace qm {

std::uint64_t modified_nanoseconds(std::int64_t seconds, std::int64_t nanoseconds) {
  // A negative fraction just before a whole second borrows from the seconds.
  if (seconds <= 0 && seconds != INT64_MIN && nanoseconds > -1000000000 && nanoseconds < 0) {
    seconds -= 1;
    nanoseconds += 1000000000;
  }
  if (nanoseconds < 0 || nanoseconds > 999999999) return 0;
  if (seconds < 0) return 0;
  // Past 2^64 - 1 ns (the year 2554) the time has no value: 0, not the low
  // 64 bits of the count, which would date the file anywhere since 1970.
  const auto whole = static_cast<std::uint64_t>(seconds);
  const auto fraction = static_cast<std::uint64_t>(nanoseconds);
  if (whole > (UINT64_MAX - fraction) / 1000000000ull) return 0;
  return whole * 1000000000ull + fraction;
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

Result<EntryMetadata> stat_entry(std::string_view path) { return stat_entry_at(AT_FDCWD, path); }

Result<EntryStatus> stat_entry_status_at(int at, std::string_view path) {
  if (path.find('\0') != std::string_view::npos) return CommandError{kNulByteError};
  const std::string c_path(path);
  struct stat st;
  if (::fstatat(at, c_path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return CommandError{last_os_error_text()};
  if (!stat_is_admitted(st)) return CommandError{kNotAdmittedError};
  const struct timespec& ctime = stat_ctime(st);
  return EntryStatus{metadata_from_stat(st), modified_nanoseconds(ctime.tv_sec, ctime.tv_nsec)};
}

Result<EntryStatus> stat_entry_status(std::string_view path) { return stat_entry_status_at(AT_FDCWD, path); }

Result<EntryMetadata> stat_entry_at(int at, std::string_view path) {
  auto status = stat_entry_status_at(at, path);
  if (!status) return std::move(status).take_error();
  return status->metadata;
}

}  // namespace qm

namespace qm {

Result<EntryMetadata> stat_descriptor(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return CommandError{last_os_error_text()};
  if (!stat_is_admitted(st)) return CommandError{kNotAdmittedError};
  return metadata_from_stat(st);
}

}  // namespace qm
