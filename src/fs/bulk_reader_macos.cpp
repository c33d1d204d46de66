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
#include "fs/portable_reader.h"

namespace qm {
namespace {

// Opens a directory for reading, retrying while interrupted. A path that is
// not a directory fails, a symbolic link is not followed, and a directory
// swapped for a FIFO fails instead of blocking the worker until a writer comes.
int open_directory(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The attributes every reply carries, in the layout bulk_reply_parser.h reads.
struct attrlist bulk_attributes() {
  struct attrlist attributes = {};
  attributes.bitmapcount = ATTR_BIT_MAP_COUNT;
  attributes.commonattr = kBulkCommonRequested;
  attributes.fileattr = kBulkFileRequested;
  return attributes;
}

// One reply into buffer (kBulkReplySize bytes): the record count, 0 at the
// end, negative on failure (errno set).
int read_reply(int fd, unsigned char* buffer) {
  struct attrlist attributes = bulk_attributes();
  int count;
  do {
    count = ::getattrlistbulk(fd, &attributes, buffer, kBulkReplySize, 0);
  } while (count < 0 && errno == EINTR);
  return count;
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
  std::uint64_t skipped = 0;
  bool first_reply = true;
  for (;;) {
    const int count = read_reply(dir.get(), reply.get());
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
    return parse_bulk_reply_compact(reply, count, listing);
  });
  if (!skipped) return std::move(skipped).take_error();
  listing.skipped = *skipped;
  return listing;
}

// A directory in parts: one reply per part, decoded by whichever worker takes
// it. Until the first part is handed over the directory can still go to the
// portable reader whole, so a first reply that fails or that the parser would
// refuse does that, as the whole-directory reader does; later failures count
// as errors of their part.
PartedDirectory::PartedDirectory(std::string_view path)
    : path_(path), fd_(path_.find('\0') == std::string::npos ? open_directory(path_.c_str()) : -1) {}

PartedDirectory::~PartedDirectory() = default;

bool PartedDirectory::is_open() const { return fd_.get() >= 0; }

bool PartedDirectory::read_part(RawPart& raw) {
  raw.filled = 0;
  if (listed_whole_) return true;  // the portable reader's one part was the whole directory
  const int count = read_reply(fd_.get(), raw.bytes.get());
  const bool first = first_part_;
  first_part_ = false;
  if (count > 0 && first) run_listing_hook(path_);
  if (first && (count < 0 || (count > 0 && !check_bulk_reply(raw.bytes.get(), static_cast<std::uint32_t>(count))))) {
    listed_whole_ = true;
    raw.listed = list_directory_compact_portable(path_);
    raw.filled = 1;
    return true;
  }
  if (count < 0) return false;
  raw.filled = count;
  return true;
}

void PartedDirectory::decode_part(RawPart& raw, CompactListing& out) const {
  if (listed_whole_) {
    out = std::move(raw.listed);
    return;
  }
  decode_bulk_part(raw.bytes.get(), static_cast<std::uint32_t>(raw.filled), out);
}

}  // namespace qm
