#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/entry_id.h"
#include "common/result.h"

namespace qm {

// One regular file or directory, as the engine describes it everywhere.
struct EntryMetadata {
  std::optional<EntryId> parent;
  std::string name;
  std::string path;
  std::string identity;  // "<device>:<inode>", both unsigned decimal
  std::uint64_t id = 0;
  std::uint64_t size = 0;       // regular files only
  std::uint64_t allocated = 0;  // st_blocks * 512, regular files only
  std::uint64_t modified = 0;   // ns since the epoch, 0 before 1970 or unrepresentable
  std::uint64_t links = 0;
  bool directory = false;
};

inline constexpr const char* kNotAdmittedError = "link, placeholder or special file";

// lstat of path (never following links), admitted only as a regular file or directory.
Result<EntryMetadata> stat_entry(std::string_view path, std::uint64_t id, std::optional<EntryId> parent);

// "<device>:<inode>" in the one form both readers and fstat checks compare.
std::string identity_text(std::uint64_t device, std::uint64_t inode);

// Modification time in ns since the epoch from (seconds, nanoseconds), 0 when before
// 1970 or not representable.
std::uint64_t modified_nanoseconds(std::int64_t seconds, std::int64_t nanoseconds);

// The final component of a path as stat_entry names it ("/" , ".." endings and "." give the whole path).
std::string_view entry_name_of(std::string_view path);

}  // namespace qm
