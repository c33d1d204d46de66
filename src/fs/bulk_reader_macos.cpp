// The fast reader on macOS: getattrlistbulk returns many entries with all the
// attributes the engine needs per call, so no entry costs a stat of its own.
#include <fcntl.h>
#include <sys/attr.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "common/os_error.h"
#include "common/unique_fd.h"
#include "fs/bulk_reply_parser.h"
#include "fs/directory_parts.h"
#include "fs/fast_reader.h"
#include "fs/listing_hook.h"

namespace qm {
namespace {

// Opens a directory for reading, retrying while interrupted.
int open_directory(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads every reply of the directory and hands each to parse(reply, count),
// which returns the reply's skip count or an error. Returns the total skips.
template <class Parse>
Result<std::uint64_t> read_bulk(std::string_view path, Parse&& parse) {
  if (path.find('\0') != std::string_view::npos) return CommandError{kNulByteError};
  const std::string c_path(path);
  const UniqueFd dir(open_directory(c_path.c_str()));
  if (dir.get() < 0) return CommandError{last_os_error_text()};

  // One zero-filled reply buffer per directory, reused for every refill.
  const auto reply = std::make_unique<unsigned char[]>(kBulkReplySize);
  struct attrlist attributes = {};
  attributes.bitmapcount = ATTR_BIT_MAP_COUNT;
  attributes.commonattr = kBulkCommonRequested;
  attributes.fileattr = kBulkFileRequested;

  std::uint64_t skipped = 0;
  bool first_reply = true;
  for (;;) {
    const int count = ::getattrlistbulk(dir.get(), &attributes, reply.get(), kBulkReplySize, 0);
    if (count < 0) return CommandError{last_os_error_text()};
    if (count == 0) break;
    if (first_reply) {
      run_listing_hook(path);
      first_reply = false;
    }
    auto reply_skips = parse(reply.get(), static_cast<std::uint32_t>(count));
    if (!reply_skips) return std::move(reply_skips).take_error();
    skipped += *reply_skips;
  }
  return skipped;
}

}  // namespace

Result<DirListing> read_directory_fast(std::string_view path, EntryId parent) {
  DirListing listing;
  auto skipped = read_bulk(path, [&](const unsigned char* reply, std::uint32_t count) {
    return parse_bulk_reply(reply, count, path, parent, listing.entries);
  });
  if (!skipped) return std::move(skipped).take_error();
  listing.skipped = *skipped;
  return listing;
}

Result<CompactListing> read_directory_fast_compact(std::string_view path) {
  CompactListing listing;
  auto skipped = read_bulk(path, [&](const unsigned char* reply, std::uint32_t count) {
    return parse_bulk_reply_compact(reply, count, path, listing);
  });
  if (!skipped) return std::move(skipped).take_error();
  listing.skipped = *skipped;
  return listing;
}

// Here a directory is one part: the bulk reader hands a directory with a name
// that is not text to the portable reader as a whole, which cannot be done
// once some of its parts have been merged.
PartedDirectory::PartedDirectory(std::string_view path) : path_(path) {}

PartedDirectory::~PartedDirectory() = default;

bool PartedDirectory::is_open() const { return true; }  // a failed open is counted in the listing

bool PartedDirectory::read_part(RawPart& raw) {
  raw.filled = 0;
  if (!first_part_) return true;
  first_part_ = false;
  raw.listed = list_directory_compact(path_);
  raw.filled = 1;
  return true;
}

void PartedDirectory::decode_part(RawPart& raw, CompactListing& out) const { out = std::move(raw.listed); }

}  // namespace qm
