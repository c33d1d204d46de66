// The fast reader on Linux: getdents64 into one reused 64 KiB buffer and one
// fstatat per entry that can be admitted, relative to the open directory, so
// the kernel resolves a single name per stat instead of the whole path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "common/os_error.h"
#include "common/unique_fd.h"
#include "common/utf8.h"
#include "fs/directory_parts.h"
#include "fs/fast_reader.h"
#include "fs/listing_hook.h"
#include "fs/stat_record.h"

namespace qm {
namespace {

constexpr std::size_t kBufferSize = 65536;

// Layout of one linux_dirent64 record: inode (8), offset (8), record length (2),
// type (1), then the NUL-terminated name.
constexpr std::size_t kReclenOffset = 16;
constexpr std::size_t kTypeOffset = 18;
constexpr std::size_t kNameOffset = 19;

// Opens a directory for reading, retrying while interrupted.
int open_directory(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The thread's getdents buffer, allocated once per thread and reused for every
// directory. A nested listing on the same thread (only a hook could start one)
// gets a buffer of its own instead of overwriting the one in use.
class DirentBuffer {
 public:
  DirentBuffer() {
    if (t_in_use) {
      own_ = std::make_unique<char[]>(kBufferSize);
      data_ = own_.get();
      return;
    }
    if (!t_buffer) t_buffer = std::make_unique<char[]>(kBufferSize);
    data_ = t_buffer.get();
    t_in_use = true;
  }
  ~DirentBuffer() {
    if (!own_) t_in_use = false;
  }
  DirentBuffer(const DirentBuffer&) = delete;
  DirentBuffer& operator=(const DirentBuffer&) = delete;
  char* data() const { return data_; }

 private:
  static thread_local std::unique_ptr<char[]> t_buffer;
  static thread_local bool t_in_use;
  std::unique_ptr<char[]> own_;
  char* data_;
};

thread_local std::unique_ptr<char[]> DirentBuffer::t_buffer;
thread_local bool DirentBuffer::t_in_use = false;

std::uint16_t record_length(const char* record) {
  std::uint16_t length;
  std::memcpy(&length, record + kReclenOffset, sizeof length);
  return length;
}

bool is_dot_or_dot_dot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Types the kernel already names as never admitted: no stat needed.
bool is_refused_type(unsigned char type) {
  return type == DT_LNK || type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

// A name as text, the way the portable reader's stat_entry converts it. Doing
// it here instead of handing the directory over gives the same records without
// reading the directory twice: one stray name can sit among 100,000 others.
void append_name_text(std::string& out, std::string_view name) {
  if (is_valid_utf8(name)) {
    out.append(name);
  } else {
    append_lossy_utf8(out, name);
  }
}

// Records in a buffer-full; with the first one's byte count it sizes the
// listing for a whole small directory, which is most of them.
std::size_t count_records(const char* buffer, long filled) {
  std::size_t records = 0;
  for (long offset = 0; offset < filled; offset += record_length(buffer + offset)) ++records;
  return records;
}

// Reads the whole directory into sink (reserve_for, add). Returns the number
// of skipped entries or the error that sends the directory to the portable reader.
template <class Sink>
Result<std::uint64_t> read_fast(std::string_view path, Sink& sink) {
  if (path.find('\0') != std::string_view::npos) return CommandError{kNulByteError};
  char short_path[PATH_MAX];
  std::string long_path;  // open reports ENAMETOOLONG for it
  const char* c_path = short_path;
  if (path.size() < sizeof short_path) {
    std::memcpy(short_path, path.data(), path.size());
    short_path[path.size()] = '\0';
  } else {
    long_path.assign(path);
    c_path = long_path.c_str();
  }

  const UniqueFd dir(open_directory(c_path));
  if (dir.get() < 0) return CommandError{last_os_error_text()};
  const DirentBuffer buffer;
  std::uint64_t skipped = 0;
  bool first_batch = true;
  for (;;) {
    const long filled = ::syscall(SYS_getdents64, dir.get(), buffer.data(), kBufferSize);
    if (filled < 0) {
      if (errno == EINTR) continue;
      return CommandError{last_os_error_text()};
    }
    if (filled == 0) break;
    if (first_batch) {
      const std::size_t records = count_records(buffer.data(), filled);
      // Names take less than their records: a bound that needs no strlen.
      sink.reserve_for(records, static_cast<std::size_t>(filled) - records * kNameOffset);
      run_listing_hook(path);
      first_batch = false;
    }
    for (long offset = 0; offset < filled;) {
      const char* record = buffer.data() + offset;
      offset += record_length(record);
      const char* name = record + kNameOffset;
      if (is_dot_or_dot_dot(name)) continue;
      if (is_refused_type(static_cast<unsigned char>(record[kTypeOffset]))) {
        ++skipped;
        continue;
      }
      struct stat st;
      if (::fstatat(dir.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        // Gone since it was listed: the portable reader's stat would fail on it too.
        if (errno == ENOENT) {
          ++skipped;
          continue;
        }
        // Anything else (permission, I/O) is for the portable reader to judge.
        return CommandError{last_os_error_text()};
      }
      if (!stat_is_admitted(st) || !sink.add(std::string_view(name, std::strlen(name)), st)) ++skipped;
    }
  }
  return skipped;
}

struct CompactSink {
  CompactListing& out;

  void reserve_for(std::size_t records, std::size_t name_bytes) {
    out.entries.reserve(records);
    out.names.reserve(name_bytes);
  }
  bool add(std::string_view name, const struct stat& st) { return add_listed_entry(out, name, st); }
};

struct MetadataSink {
  DirListing& out;
  std::string_view directory;
  EntryId parent;

  void reserve_for(std::size_t records, std::size_t) { out.entries.reserve(records); }
  bool add(std::string_view name, const struct stat& st) {
    EntryMetadata& m = out.entries.emplace_back();
    m.parent = parent;
    append_name_text(m.name, name);
    m.path = lossy_utf8(join_path(directory, name));  // the directory path need not be text
    fill_from_stat(m, st);
    return true;
  }
};

}  // namespace

Result<DirListing> read_directory_fast(std::string_view path, EntryId parent) {
  DirListing listing;
  MetadataSink sink{listing, path, parent};
  auto skipped = read_fast(path, sink);
  if (!skipped) return std::move(skipped).take_error();
  listing.skipped = *skipped;
  return listing;
}

Result<CompactListing> read_directory_fast_compact(std::string_view path) {
  CompactListing listing;
  CompactSink sink{listing};
  auto skipped = read_fast(path, sink);
  if (!skipped) return std::move(skipped).take_error();
  listing.skipped = *skipped;
  return listing;
}

PartedDirectory::PartedDirectory(std::string_view path)
    : path_(path), fd_(path_.find('\0') == std::string::npos ? open_directory(path_.c_str()) : -1) {}

PartedDirectory::~PartedDirectory() = default;

bool PartedDirectory::is_open() const { return fd_.get() >= 0; }

bool PartedDirectory::read_part(RawPart& raw) {
  raw.filled = 0;
  long filled;
  do {
    filled = ::syscall(SYS_getdents64, fd_.get(), raw.bytes.get(), RawPart::kCapacity);
  } while (filled < 0 && errno == EINTR);
  if (filled < 0) return false;
  raw.filled = filled;
  if (filled > 0 && first_part_) {
    first_part_ = false;
    run_listing_hook(path_);
  }
  return true;
}

void PartedDirectory::decode_part(RawPart& raw, CompactListing& out) const {
  const char* buffer = reinterpret_cast<const char*>(raw.bytes.get());
  if (out.entries.empty()) {
    const std::size_t records = count_records(buffer, raw.filled);
    out.entries.reserve(records);
    out.names.reserve(static_cast<std::size_t>(raw.filled) - records * kNameOffset);
  }
  for (long offset = 0; offset < raw.filled;) {
    const char* record = buffer + offset;
    offset += record_length(record);
    const char* name = record + kNameOffset;
    if (is_dot_or_dot_dot(name)) continue;
    if (is_refused_type(static_cast<unsigned char>(record[kTypeOffset]))) {
      ++out.skipped;
      continue;
    }
    // A failed stat (the entry vanished, or cannot be examined) is skipped, as
    // the portable reader counts it.
    struct stat st;
    if (::fstatat(fd_.get(), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !stat_is_admitted(st)) {
      ++out.skipped;
      continue;
    }
    if (!add_listed_entry(out, std::string_view(name, std::strlen(name)), st)) ++out.skipped;
  }
}

}  // namespace qm
