#pragma once
// The records of one getattrlistbulk reply, parsed in place. Free of platform
// headers, so the record rules are exercised everywhere with synthetic replies.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "fs/compact_listing.h"

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

// Whether a reply (`count` records packed from the start of `reply`,
// kBulkReplySize bytes) can be read all or nothing: the number of skipped
// records (placeholders, objects that are neither file nor directory), or the
// error text of the first record that cannot be read. The first reply of a
// directory is checked so, while the directory can still go to the portable
// reader whole.
Result<std::uint64_t> check_bulk_reply(const unsigned char* reply, std::uint32_t count);

// One reply as one part of a directory read in parts, which can no longer go
// to the portable reader: admitted records are appended to out (a name that is
// not UTF-8 with U+FFFD in its text and its bytes in out.raw_names, as every
// reader names it); placeholders, other objects and records whose attributes
// cannot be read add to out.skipped; a record whose length cannot be trusted
// ends the part with one error in out.errors (the records before it stand,
// the ones after it cannot be found).
void decode_bulk_part(const unsigned char* reply, std::uint32_t count, CompactListing& out);

}  // namespace qm
