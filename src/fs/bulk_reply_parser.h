#pragma once
// The records of one getattrlistbulk reply, parsed in place. Free of platform
// headers, so the record rules are exercised everywhere with synthetic replies.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "fs/dir_listing.h"

namespace qm {

inline constexpr std::size_t kBulkReplySize = 65536;

// The attribute set the reader asks for.
inline constexpr std::uint32_t kBulkCommonRequested = 0x8204040B;  // name, devid, objtype, modtime, flags, fileid, returned attrs
inline constexpr std::uint32_t kBulkCommonRequired = 0x0204040B;   // the same without the returned-attributes bit
inline constexpr std::uint32_t kBulkFileLinkCount = 0x1;
inline constexpr std::uint32_t kBulkFileTotalSize = 0x2;
inline constexpr std::uint32_t kBulkFileAllocSize = 0x4;
inline constexpr std::uint32_t kBulkFileRequested = 0x7;

inline constexpr std::uint32_t kBulkObjectRegular = 1;    // VREG
inline constexpr std::uint32_t kBulkObjectDirectory = 2;  // VDIR
inline constexpr std::uint32_t kBulkDatalessFlag = 0x40000000;

inline constexpr const char* kInvalidBulkLength = "Invalid bulk length";
inline constexpr const char* kInvalidBulkRecord = "Invalid bulk record";
inline constexpr const char* kTruncatedBulkRecord = "Truncated bulk record";
inline constexpr const char* kUnsupportedBulkAttributes = "Unsupported bulk attributes";

// Fixed offsets inside one record (all six common attributes are required, so
// they always sit at the same place).
namespace bulk_layout {
inline constexpr std::size_t kLength = 0;
inline constexpr std::size_t kReturnedCommon = 4;
inline constexpr std::size_t kReturnedFile = 16;
inline constexpr std::size_t kNameReference = 24;  // signed offset from here, then length with NUL
inline constexpr std::size_t kDevice = 32;
inline constexpr std::size_t kObjectType = 36;
inline constexpr std::size_t kModifiedSeconds = 40;
inline constexpr std::size_t kModifiedNanoseconds = 48;
inline constexpr std::size_t kFlags = 56;
inline constexpr std::size_t kFileId = 60;
inline constexpr std::size_t kFileAttributes = 68;  // link count, total size, allocated size, as returned
inline constexpr std::size_t kMinimumRecord = 24;
}  // namespace bulk_layout

// One admitted record; name points into the reply buffer.
struct BulkRecord {
  std::string_view name;
  std::uint32_t device = 0;
  std::uint64_t file_id = 0;
  std::uint64_t size = 0;       // regular files only
  std::uint64_t allocated = 0;  // regular files only
  std::uint64_t modified = 0;
  std::uint64_t links = 1;  // 1 when not returned
  bool directory = false;
};

// The records of one reply, all or nothing: `count` records packed from the
// start of `reply` (kBulkReplySize bytes). Admitted records are appended to
// `out`; the result is the number of skipped records (placeholders, objects
// that are neither file nor directory) or the error text of the first record
// that cannot be read, which sends the directory to the portable reader.
// `directory` is the listed path: record paths are it joined with the name.
// A name that is not UTF-8 is admitted with U+FFFD in place of its bad bytes,
// in the name and the path, as the portable reader names it.
Result<std::uint64_t> parse_bulk_reply(const unsigned char* reply, std::uint32_t count, std::string_view directory,
                                       EntryId parent, std::vector<EntryMetadata>& out);

// The same reply in compact form; a name that is not UTF-8 also keeps its
// bytes in out.raw_names.
Result<std::uint64_t> parse_bulk_reply_compact(const unsigned char* reply, std::uint32_t count, CompactListing& out);

// Whether parse_bulk_reply would take the reply: its skip count or its error.
// Checks the first part of a directory while it can still go to the portable
// reader whole.
Result<std::uint64_t> check_bulk_reply(const unsigned char* reply, std::uint32_t count);

// One reply as one part of a directory read in parts, which can no longer go
// to the portable reader: admitted records are appended to out as in
// parse_bulk_reply_compact; placeholders, other objects and records whose
// attributes cannot be read add to out.skipped; a record whose length cannot
// be trusted ends the part with one error in out.errors (the records before
// it stand, the ones after it cannot be found).
void decode_bulk_part(const unsigned char* reply, std::uint32_t count, CompactListing& out);

}  // namespace qm
