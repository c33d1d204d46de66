// The fast reader on macOS: getattrlistbulk returns many entries with all the
// attributes the engine needs per call, so no entry costs a stat of its own.
#include <fcntl.h>
#include <sys/attr.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

#include "common/unique_fd.h"
#include "fs/bulk_reply_parser.h"
#include "fs/directory_cursor.h"
#include "fs/directory_reader.h"

namespace qm {
namespace {

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

static_assert(RawPart::kCapacity >= kBulkReplySize, "a part holds one whole reply");

// A directory in parts: one reply per part, decoded by whichever worker takes
// it. Until the first part is handed over the directory can still go to the
// portable reader whole, so a first reply that fails or that the parser would
// refuse does that; later failures count as errors of their part.
class BulkDirectory final : public OpenDirectory {
 public:
  explicit BulkDirectory(UniqueFd fd) : fd_(std::move(fd)) {}

  bool read_part(RawPart& raw) override {
    raw.filled = 0;
    if (listed_whole_) return true;  // the portable reader's one part was the whole directory
    const int count = read_reply(fd_.get(), raw.bytes.get());
    const bool first = first_part_;
    first_part_ = false;
    if (first && (count < 0 || (count > 0 && !check_bulk_reply(raw.bytes.get(), static_cast<std::uint32_t>(count))))) {
      listed_whole_ = true;
      // The same directory opened afresh through this descriptor (a position
      // of its own, at the start), never by its path.
      RawPart portable_raw;
      UniqueFd again(open_directory_at(fd_.get(), "."));
      std::unique_ptr<OpenDirectory> portable;
      if (again.get() >= 0) portable = portable_directory_reader().adopt(std::move(again), {});
      raw.listed = list_open_directory(std::move(portable), portable_raw);  // none: one error
      raw.filled = 1;
      return true;
    }
    if (count < 0) return false;
    raw.filled = count;
    return true;
  }

  void decode_part(RawPart& raw, CompactListing& out) const override {
    if (listed_whole_) {
      out = std::move(raw.listed);
      return;
    }
    decode_bulk_part(raw.bytes.get(), static_cast<std::uint32_t>(raw.filled), out);
  }

  bool is_object(const FileId& file, const RawPart&) const override { return descriptor_is(fd_.get(), file); }

  int descriptor() const override { return fd_.get(); }

 private:
  UniqueFd fd_;
  bool first_part_ = true;
  bool listed_whole_ = false;  // the first reply sent the directory to the portable reader
};

class BulkReader final : public DirectoryReader {
 public:
  std::unique_ptr<OpenDirectory> adopt(UniqueFd fd, std::string_view) const override {
    return std::make_unique<BulkDirectory>(std::move(fd));
  }
};

}  // namespace

const DirectoryReader& fast_directory_reader() {
  static const BulkReader reader;
  return reader;
}

}  // namespace qm
