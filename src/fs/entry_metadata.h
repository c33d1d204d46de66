#pragma once
// The one record of a file-system object, from the listing to the index.
#include <cstdint>
#include <string_view>

#include "common/result.h"

namespace qm {

// What makes an object itself: its file system and its number there. Two names
// with the same FileId are the same object (hard links, a directory reached twice).
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;

  bool operator==(const FileId&) const = default;
};

// One regular file or directory as the engine describes it everywhere. Where
// the object is (its name, path or parent) belongs to whoever holds the record.
struct EntryMetadata {
  FileId file;
  std::uint64_t size = 0;       // regular files only
  std::uint64_t allocated = 0;  // blocks * 512, regular files only
  std::uint64_t modified = 0;   // ns since the epoch, 0 before 1970 or unrepresentable
  std::uint64_t links = 0;
  bool directory = false;
};

// The file flag of a placeholder whose content is not on the local disk.
inline constexpr std::uint32_t kDatalessFlag = 0x40000000;

inline constexpr const char* kNotAdmittedError = "link, placeholder or special file";

// lstat of path (never following links), admitted only as a regular file or directory.
Result<EntryMetadata> stat_entry(std::string_view path);

// The same for path resolved against the directory descriptor `at` (a name in it).
Result<EntryMetadata> stat_entry_at(int at, std::string_view path);

// The same for the object open at fd.
Result<EntryMetadata> stat_descriptor(int fd);

// An object's record with its status-change time (ctime), which a restored
// modification time cannot bring back: what a hash cache compares against.
struct EntryStatus {
  EntryMetadata metadata;
  std::uint64_t changed = 0;  // ns since the epoch, as modified_nanoseconds gives it
};

// stat_entry and stat_entry_at with the status-change time.
Result<EntryStatus> stat_entry_status(std::string_view path);
Result<EntryStatus> stat_entry_status_at(int at, std::string_view path);

// Modification time in ns since the epoch from (seconds, nanoseconds), 0 when before
// 1970 or not representable.
std::uint64_t modified_nanoseconds(std::int64_t seconds, std::int64_t nanoseconds);

// The final component of a path as the scan names its root ("/", ".." endings and "." give the whole path).
std::string_view entry_name_of(std::string_view path);

}  // namespace qm
