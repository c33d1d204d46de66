#pragma once
// The few fields of struct stat that differ between platforms, read in one
// place so every reader derives identity, times and admission alike.
#include <sys/stat.h>

#include <cstdint>

#include "fs/entry_metadata.h"

namespace qm {

// The per-file flags word; Linux has none, so nothing is a dataless placeholder there.
inline std::uint32_t stat_file_flags(const struct stat& st) {
#if defined(__APPLE__)
  return st.st_flags;
#else
  (void)st;
  return 0;
#endif
}

// The device number as a FileId holds it. macOS keeps it in a signed 32-bit
// field while the bulk reader reports it unsigned; taking the unsigned 32-bit
// value makes both readers give the same FileId for the same object. Linux's
// dev_t is already unsigned 64-bit.
inline std::uint64_t stat_device(const struct stat& st) {
#if defined(__APPLE__)
  return static_cast<std::uint32_t>(st.st_dev);
#else
  return static_cast<std::uint64_t>(st.st_dev);
#endif
}

inline const struct timespec& stat_mtime(const struct stat& st) {
#if defined(__APPLE__)
  return st.st_mtimespec;
#else
  return st.st_mtim;
#endif
}

// The status-change time: set to the present by every change of content,
// times, links or permissions, and never settable by a caller.
inline const struct timespec& stat_ctime(const struct stat& st) {
#if defined(__APPLE__)
  return st.st_ctimespec;
#else
  return st.st_ctim;
#endif
}

// The admission rule: only regular files and directories that are not
// placeholders. The link test comes first, then the placeholder test, then the
// type test; all refusals look the same to the caller.
inline bool stat_is_admitted(const struct stat& st) {
  const auto type = st.st_mode & S_IFMT;
  if (type == S_IFLNK) return false;
  if (stat_file_flags(st) & kDatalessFlag) return false;
  return type == S_IFREG || type == S_IFDIR;
}

}  // namespace qm
