#include "fs/bulk_reply_parser.h"

#include <cstring>

#include "common/utf8.h"
#include "fs/stat_record.h"

namespace qm {
namespace {

using namespace bulk_layout;

// Little-endian reads at any alignment (the file id is not 8-aligned).
std::uint32_t load_u32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t load_u64(const unsigned char* p) {
  return static_cast<std::uint64_t>(load_u32(p)) | static_cast<std::uint64_t>(load_u32(p + 4)) << 32;
}

std::int64_t load_i64(const unsigned char* p) { return static_cast<std::int64_t>(load_u64(p)); }

// The name bytes (without the NUL) of a record of length `length`, or false
// when the reference points outside the record, is empty or not NUL-terminated.
bool name_of(const unsigned char* record, std::uint32_t length, std::string_view& name) {
  const std::int64_t data_offset = static_cast<std::int32_t>(load_u32(record + kNameReference));
  const std::uint32_t name_length = load_u32(record + kNameReference + 4);
  const std::int64_t start = static_cast<std::int64_t>(kNameReference) + data_offset;
  if (start < 0 || name_length == 0) return false;
  if (start + static_cast<std::int64_t>(name_length) > static_cast<std::int64_t>(length)) return false;
  const unsigned char* bytes = record + start;
  if (bytes[name_length - 1] != '\0') return false;
  name = std::string_view(reinterpret_cast<const char*>(bytes), name_length - 1);
  return true;
}

// A name a directory can hold: not "." or "..", no separator. An empty name or
// one with a NUL before the terminating one cannot name an entry either. Names
// that are not UTF-8 are valid names; readers keep their bytes.
bool is_entry_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// admitted: a file or directory; skipped: a placeholder or another kind of
// object; unreadable: the record is whole (its length can be trusted) but its
// attributes are incomplete or malformed.
enum class RecordKind { admitted, skipped, unreadable };

// Parses the record at `offset` into `record`; `length` receives its length.
// Fails only when the record's length cannot be trusted, so the records after
// it cannot be found.
Result<RecordKind> parse_record(const unsigned char* reply, std::size_t offset, EntryMetadata& record,
                                std::string_view& name, std::uint32_t& length) {
  if (offset > kBulkReplySize - 4) return CommandError{kInvalidBulkLength};
  const unsigned char* r = reply + offset;
  length = load_u32(r + kLength);
  if (length < kMinimumRecord) return CommandError{kInvalidBulkRecord};
  if (offset + length > kBulkReplySize) return CommandError{kTruncatedBulkRecord};

  if (length < kDevice) return RecordKind::unreadable;
  if ((load_u32(r + kReturnedCommon) & kBulkCommonRequired) != kBulkCommonRequired) return RecordKind::unreadable;
  if (!name_of(r, length, name) || !is_entry_name(name)) return RecordKind::unreadable;
  if (length < kFileAttributes) return RecordKind::unreadable;

  const std::uint32_t type = load_u32(r + kObjectType);
  if ((load_u32(r + kFlags) & kDatalessFlag) || (type != kBulkObjectRegular && type != kBulkObjectDirectory)) {
    return RecordKind::skipped;
  }

  const std::uint32_t file_attributes = load_u32(r + kReturnedFile);
  std::size_t at = kFileAttributes;
  std::uint64_t links = 1, size = 0, allocated = 0;
  if (file_attributes & kBulkFileLinkCount) {
    if (at + 4 > length) return RecordKind::unreadable;
    links = load_u32(r + at);
    at += 4;
  }
  if (file_attributes & kBulkFileTotalSize) {
    if (at + 8 > length) return RecordKind::unreadable;
    size = load_u64(r + at);
    at += 8;
  }
  if (file_attributes & kBulkFileAllocSize) {
    if (at + 8 > length) return RecordKind::unreadable;
    allocated = load_u64(r + at);
    at += 8;
  }
  const bool directory = type == kBulkObjectDirectory;
  if (!directory && (file_attributes & kBulkFileRequested) != kBulkFileRequested) return RecordKind::unreadable;

  record.file = {load_u32(r + kDevice), load_u64(r + kFileId)};
  record.directory = directory;
  record.size = directory ? 0 : size;
  record.allocated = directory ? 0 : allocated;
  record.links = links;
  // The same time rule as stat_entry, so a fresh stat of the entry compares
  // equal to its listed record (0 before 1970 instead of a far-future time).
  record.modified = modified_nanoseconds(load_i64(r + kModifiedSeconds), load_i64(r + kModifiedNanoseconds));
  return RecordKind::admitted;
}

// Walks the `count` records of a reply, calling on_record(kind, record, name)
// for each whole one; stops at the first whose length cannot be trusted and
// returns its error.
template <class OnRecord>
Result<bool> walk_records(const unsigned char* reply, std::uint32_t count, OnRecord&& on_record) {
  std::size_t offset = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    EntryMetadata record;
    std::string_view name;
    std::uint32_t length = 0;
    auto kind = parse_record(reply, offset, record, name, length);
    if (!kind) return std::move(kind).take_error();
    on_record(*kind, record, name);
    offset += length;
  }
  return true;
}

// A whole reply, all or nothing: the skip count, or the error of the first
// record that cannot be read. on_record returns false for a record it could
// not take, which counts as skipped.
template <class OnRecord>
Result<std::uint64_t> parse_records(const unsigned char* reply, std::uint32_t count, OnRecord&& on_record) {
  std::uint64_t skipped = 0;
  bool unreadable = false;
  auto walked = walk_records(reply, count, [&](RecordKind kind, const EntryMetadata& record, std::string_view name) {
    if (unreadable) return;
    if (kind == RecordKind::unreadable) {
      unreadable = true;
    } else if (kind == RecordKind::skipped || !on_record(record, name)) {
      ++skipped;
    }
  });
  if (!walked) return std::move(walked).take_error();
  if (unreadable) return CommandError{kUnsupportedBulkAttributes};
  return skipped;
}

}  // namespace

Result<std::uint64_t> check_bulk_reply(const unsigned char* reply, std::uint32_t count) {
  return parse_records(reply, count, [](const EntryMetadata&, std::string_view) { return true; });
}

void decode_bulk_part(const unsigned char* reply, std::uint32_t count, CompactListing& out) {
  auto walked = walk_records(reply, count, [&](RecordKind kind, const EntryMetadata& record, std::string_view name) {
    if (kind != RecordKind::admitted || !add_listed_entry(out, name, record)) ++out.skipped;
  });
  if (!walked) ++out.errors;  // the records after this one cannot be found
}

}  // namespace qm
