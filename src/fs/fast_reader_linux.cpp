// The fast reader on Linux: getdents64 into a part buffer and one fstatat per
// entry that can be admitted, relative to the open directory, so the kernel
// resolves a single name per stat instead of the whole path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>

#include "common/unique_fd.h"
#include "fs/descriptor_reader.h"
#include "fs/directory_cursor.h"
#include "fs/stat_record.h"

namespace qm {
namespace {

// Layout of one linux_dirent64 record: inode (8), offset (8), record length (2),
// type (1), then the NUL-terminated name.
constexpr std::size_t kReclenOffset = 16;
constexpr std::size_t kTypeOffset = 18;
constexpr std::size_t kNameOffset = 19;

std::uint16_t record_length(const char* record) {
  std::uint16_t length;
  std::memcpy(&length, record + kReclenOffset, sizeof length);
  return length;
}

// The length of a record's name without a scan from its start: the kernel
// sizes a record as its header, the name and its NUL rounded up to 8 bytes,
// so the NUL is among the record's last 8 bytes. Bytes after it are padding
// the kernel leaves as the buffer had them, so the first NUL from there is
// the end. Records arrive 8-byte aligned in the part buffer.
std::size_t name_length(const char* record, std::uint16_t length) {
  static_assert(std::endian::native == std::endian::little, "the byte order the word scan assumes");
  const auto scanned = [&] { return ::strnlen(record + kNameOffset, length > kNameOffset ? length - kNameOffset : 0); };
  if (length < kNameOffset + 1 || length % 8 != 0) return scanned();
  const std::size_t tail = length - 8;
  std::uint64_t word;
  std::memcpy(&word, record + tail, sizeof word);
  // Bytes before the name (in a record of 24 bytes) are made non-zero.
  if (tail < kNameOffset) word |= (std::uint64_t{1} << ((kNameOffset - tail) * 8)) - 1;
  const std::uint64_t zero_bytes = (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
  if (zero_bytes == 0) return scanned();
  // The lowest flagged byte is the first zero one (flags above it may be false).
  return tail + static_cast<std::size_t>(std::countr_zero(zero_bytes)) / 8 - kNameOffset;
}

bool is_dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Types the kernel already names as never admitted: no stat needed.
bool is_refused_type(unsigned char type) {
  return type == DT_LNK || type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

// Records in a buffer-full; with the first one's byte count it sizes the
// listing for a whole small directory, which is most of them.
std::size_t count_records(const char* buffer, long filled) {
  std::size_t records = 0;
  for (long offset = 0; offset < filled; offset += record_length(buffer + offset)) ++records;
  return records;
}

// Entries of a part to stat, in listing order: their names go into the
// listing first, then they are stated one after another, then their entries
// are added together.
struct StatBatch {
  static constexpr std::size_t kSize = 16;
  struct Stated {
    std::string_view name;  // NUL-terminated in the part
    NameAhead listed;
    struct stat st;
    bool admitted;
  };
  Stated stated[kSize];
  std::size_t count = 0;

  void take(CompactListing& out, std::string_view name) {
    Stated& entry = stated[count];
    if (!append_name_ahead(out, name, entry.listed)) {
      ++out.skipped;
      return;
    }
    entry.name = name;
    ++count;
  }

  // A failed stat (the entry vanished, or cannot be examined) is skipped, as
  // the portable reader counts it.
  void stat_into(int fd, CompactListing& out) {
    for (std::size_t i = 0; i < count; ++i) {
      Stated& entry = stated[i];
      entry.admitted =
          ::fstatat(fd, entry.name.data(), &entry.st, AT_SYMLINK_NOFOLLOW) == 0 && stat_is_admitted(entry.st);
    }
    for (std::size_t i = 0; i < count; ++i) {
      const Stated& entry = stated[i];
      if (entry.admitted) {
        add_entry_named_ahead(out, entry.listed, entry.name, metadata_from_stat(entry.st));
      } else {
        ++out.skipped;
      }
    }
    count = 0;
  }
};

class GetdentsDirectory final : public OpenDirectory {
 public:
  explicit GetdentsDirectory(UniqueFd fd) : fd_(std::move(fd)) {}
  GetdentsDirectory(const GetdentsDirectory&) = delete;
  GetdentsDirectory& operator=(const GetdentsDirectory&) = delete;

  bool read_part(RawPart& raw) override {
    raw.filled = 0;
    long filled;
    do {
      filled = ::syscall(SYS_getdents64, fd_.get(), raw.bytes.get(), RawPart::kCapacity);
    } while (filled < 0 && errno == EINTR);
    if (filled < 0) return false;
    raw.filled = filled;
    return true;
  }

  bool ok() const { return true; }

  // The stat calls come in batches: a system call can cost the pages a thread
  // touches their translations (notably on a virtual machine), so between two
  // stat calls only the stack is touched, and the part's records, the
  // listing's buffers and the code that fills them once per batch.
  void decode_part(RawPart& raw, CompactListing& out) const override {
    const char* const buffer = reinterpret_cast<const char*>(raw.bytes.get());
    const long filled = raw.filled;
    const int fd = fd_.get();
    if (out.entries.empty()) {
      const std::size_t records = count_records(buffer, filled);
      out.entries.reserve(records);
      // Names take less than their records: a bound that needs no strlen.
      out.names.reserve(static_cast<std::size_t>(filled) - records * kNameOffset);
    }
    StatBatch batch;
    std::uint64_t refused = 0;
    for (long offset = 0; offset < filled;) {
      const char* record = buffer + offset;
      const std::uint16_t length = record_length(record);
      offset += length;
      const char* name = record + kNameOffset;
      if (is_dot_or_dot_dot(name)) continue;
      if (is_refused_type(static_cast<unsigned char>(record[kTypeOffset]))) {
        ++refused;
        continue;
      }
      batch.take(out, std::string_view(name, name_length(record, length)));
      if (batch.count == StatBatch::kSize) batch.stat_into(fd, out);
    }
    batch.stat_into(fd, out);
    out.skipped += refused;
  }

  bool is_object(const FileId& file, const RawPart& first) const override {
    const char* buffer = reinterpret_cast<const char*>(first.bytes.get());
    for (long offset = 0; offset < first.filled;) {
      const char* record = buffer + offset;
      offset += record_length(record);
      const char* name = record + kNameOffset;
      if (name[0] != '.' || name[1] != '\0') continue;
      std::uint64_t inode;
      std::memcpy(&inode, record, sizeof inode);
      if (inode == file.inode) return true;
      break;
    }
    return descriptor_is(fd_.get(), file);
  }

  int descriptor() const override { return fd_.get(); }

 private:
  UniqueFd fd_;
};

}  // namespace

const DirectoryReader& fast_directory_reader() {
  static const DescriptorReader<GetdentsDirectory> reader;
  return reader;
}

}  // namespace qm
