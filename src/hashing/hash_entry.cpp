#include "hashing/hash_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

#include "blake3.h"
#include "common/os_error.h"
#include "common/unique_fd.h"
#include "fs/entry_metadata.h"
#include "fs/stat_fields.h"
#include "hashing/blake3_hex.h"
#include "index/entry_lookup.h"
#include "index/entry_place.h"

namespace qm {
namespace {

// Page alignment lets the kernel copy whole pages into the buffer; a plain
// malloc of 1 MiB sits 16 bytes past a page start, which made reads from a warm
// page cache about a quarter slower.
constexpr std::align_val_t kBufferAlignment{4096};

struct AlignedBufferDelete {
  void operator()(unsigned char* buffer) const { ::operator delete[](buffer, kBufferAlignment); }
};

// One read buffer per thread, allocated (zero-filled) on first use and kept: a
// duplicate search hashes thousands of files per worker, and a fresh 1 MiB
// buffer per file would cost a page-faulting allocation each time.
unsigned char* read_buffer() {
  thread_local std::unique_ptr<unsigned char[], AlignedBufferDelete> buffer([] {
    auto* bytes = static_cast<unsigned char*>(::operator new[](kFullReadSize, kBufferAlignment));
    std::memset(bytes, 0, kFullReadSize);
    return bytes;
  }());
  return buffer.get();
}

bool cache_may_serve(const Clock& clock, std::uint64_t indexed_modified) {
  const std::int64_t wall_ns = clock.wall_ns();
  if (wall_ns < 0) return false;
  const auto now_ns = static_cast<std::uint64_t>(wall_ns);
  const std::uint64_t age = now_ns > indexed_modified ? now_ns - indexed_modified : 0;
  return age >= kCacheMinimumAgeNs;
}

ssize_t pread_retrying(int fd, unsigned char* buffer, std::size_t length, std::uint64_t offset) {
  ssize_t n;
  do {
    n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

// The whole content in 1 MiB reads until end of file. A file that grows past its
// indexed size has changed for sure; stopping there keeps a file that is being
// written without end from holding a worker forever.
Result<bool> hash_full(const FileOpener& files, int fd, std::uint64_t indexed_size, blake3_hasher& hasher) {
#if defined(POSIX_FADV_SEQUENTIAL)
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  unsigned char* buffer = read_buffer();
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = files.read_some(fd, buffer, kFullReadSize);
    if (n < 0) return CommandError{last_os_error_text()};
    if (n == 0) return true;
    blake3_hasher_update(&hasher, buffer, static_cast<std::size_t>(n));
    total += static_cast<std::uint64_t>(n);
    if (total > indexed_size) return CommandError{kChangedWhileHashingError};
  }
}

// Three single reads of up to 16 KiB at 0, tail / 2 and tail; only returned bytes count.
Result<bool> hash_sampled(int fd, std::uint64_t indexed_size, blake3_hasher& hasher) {
  unsigned char* buffer = read_buffer();
  const std::uint64_t tail = indexed_size > kSampleReadSize ? indexed_size - kSampleReadSize : 0;
  const std::uint64_t offsets[3] = {0, tail / 2, tail};
  for (const std::uint64_t offset : offsets) {
    const ssize_t n = pread_retrying(fd, buffer, kSampleReadSize, offset);
    if (n < 0) return CommandError{last_os_error_text()};
    blake3_hasher_update(&hasher, buffer, static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

Result<std::string> hash_entry(const Index& index, HashCache& cache, const HashContext& context, std::uint64_t id,
                               HashMode mode, bool revalidate) {
  auto indexed = revalidate ? revalidate_entry(index, id) : lookup_entry(index, id);
  if (!indexed) return std::move(indexed).take_error();
  const EntryMetadata& was = indexed->metadata;
  if (was.directory) return CommandError{kNotAFileError};

  const HashCacheKey key{was.file.device, was.file.inode, was.size, was.modified, mode};
  // The file's directory, reached name by name from "/" through no link and
  // with no path length limit; the file is examined and opened there.
  auto place = open_entry_parent(index, indexed->id);
  if (!place) return std::move(place).take_error();

  {
    auto fresh = stat_entry_at(place->directory.get(), place->name);
    if (!fresh) return std::move(fresh).take_error();
    if (fresh->file != was.file || fresh->size != was.size || fresh->modified != was.modified) {
      return CommandError{kFileChangedError};
    }
  }

  if (!revalidate && cache_may_serve(context.clock, was.modified)) {
    if (auto cached = cache.lookup(key)) return std::move(*cached);
  }

  const UniqueFd file(context.files.open_for_reading(place->directory.get(), place->name));
  if (file.get() < 0) return CommandError{last_os_error_text()};

  struct stat before;
  if (::fstat(file.get(), &before) != 0) return CommandError{last_os_error_text()};
  const struct timespec modified_before = stat_mtime(before);
  // Anything but the regular file that was indexed (a fifo or device now under the
  // name, even one that reuses the inode number) is refused before a byte is read.
  if (!S_ISREG(before.st_mode) || (stat_file_flags(before) & kDatalessFlag) ||
      FileId{stat_device(before), static_cast<std::uint64_t>(before.st_ino)} != was.file ||
      static_cast<std::uint64_t>(before.st_size) != was.size ||
      modified_nanoseconds(modified_before.tv_sec, modified_before.tv_nsec) != was.modified) {
    return CommandError{kFileChangedError};
  }

  blake3_hasher hasher;
  init_hasher(hasher);
  auto hashed = mode == HashMode::Full ? hash_full(context.files, file.get(), was.size, hasher)
                                       : hash_sampled(file.get(), was.size, hasher);
  if (!hashed) return std::move(hashed).take_error();

  struct stat after;
  if (::fstat(file.get(), &after) != 0) return CommandError{last_os_error_text()};
  const struct timespec modified_after = stat_mtime(after);
  if (static_cast<std::uint64_t>(after.st_size) != was.size || modified_after.tv_sec != modified_before.tv_sec ||
      modified_after.tv_nsec != modified_before.tv_nsec) {
    return CommandError{kChangedWhileHashingError};
  }

  if (revalidate) {
    auto again = revalidate_entry(index, id);
    if (!again) return std::move(again).take_error();
  }

  std::string hex = finish_hex(hasher);
  if (!revalidate) cache.insert(key, hex);
  return hex;
}

}  // namespace qm
