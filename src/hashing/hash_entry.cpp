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
#include "hashing/hash_hooks.h"
#include "query/entry_lookup.h"

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

bool cache_may_serve(std::uint64_t indexed_modified) {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  if (since_epoch.count() < 0) return false;
  const auto now_ns = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count());
  const std::uint64_t age = now_ns > indexed_modified ? now_ns - indexed_modified : 0;
  return age >= kCacheMinimumAgeNs;
}

ssize_t read_retrying(int fd, unsigned char* buffer, std::size_t length) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, length);
  } while (n < 0 && errno == EINTR);
  return n;
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
Result<bool> hash_full(int fd, std::uint64_t indexed_size, const std::string& path, blake3_hasher& hasher) {
#if defined(POSIX_FADV_SEQUENTIAL)
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  const HashHooks* hooks = installed_hash_hooks();
  unsigned char* buffer = read_buffer();
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = read_retrying(fd, buffer, kFullReadSize);
    if (n < 0) return CommandError{last_os_error_text()};
    if (n == 0) return true;
    blake3_hasher_update(&hasher, buffer, static_cast<std::size_t>(n));
    total += static_cast<std::uint64_t>(n);
    if (total > indexed_size) return CommandError{kChangedWhileHashingError};
    if (hooks && hooks->after_read) hooks->after_read(path, total);
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

Result<std::string> hash_entry(Engine& engine, std::uint64_t id, HashMode mode, bool revalidate) {
  const Index& index = engine.index;
  auto indexed = revalidate ? revalidate_entry(index, id) : lookup_entry(index, id);
  if (!indexed) return std::move(indexed).take_error();
  if (indexed->directory) return CommandError{kNotAFileError};

  const auto entry_id = static_cast<EntryId>(id);  // lookup succeeded, so id fits
  const std::uint64_t device = index.device(entry_id);
  const std::uint64_t inode = index.entry(entry_id).inode;
  const HashCacheKey key{device, inode, indexed->size, indexed->modified, mode};
  const std::string os_path = index.os_path(entry_id);  // the text path may have U+FFFD in it

  {
    auto fresh = stat_entry(os_path, indexed->id, indexed->parent);
    if (!fresh) return std::move(fresh).take_error();
    if (fresh->identity != indexed->identity || fresh->size != indexed->size ||
        fresh->modified != indexed->modified) {
      return CommandError{kFileChangedError};
    }
  }

  if (!revalidate && cache_may_serve(indexed->modified)) {
    if (auto cached = engine.hash_cache.lookup(key)) return std::move(*cached);
  }

  const UniqueFd file(::open(os_path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return CommandError{last_os_error_text()};
  if (const HashHooks* hooks = installed_hash_hooks(); hooks && hooks->after_open) hooks->after_open(indexed->path);

  struct stat before;
  if (::fstat(file.get(), &before) != 0) return CommandError{last_os_error_text()};
  const struct timespec modified_before = stat_mtime(before);
  // Anything but the regular file that was indexed (a fifo or device now under the
  // name, even one that reuses the inode number) is refused before a byte is read.
  if (!S_ISREG(before.st_mode) || (stat_file_flags(before) & kDatalessFlag) || stat_device(before) != device ||
      static_cast<std::uint64_t>(before.st_ino) != inode ||
      static_cast<std::uint64_t>(before.st_size) != indexed->size ||
      modified_nanoseconds(modified_before.tv_sec, modified_before.tv_nsec) != indexed->modified) {
    return CommandError{kFileChangedError};
  }

  blake3_hasher hasher;
  init_hasher(hasher);
  auto hashed = mode == HashMode::Full ? hash_full(file.get(), indexed->size, indexed->path, hasher)
                                       : hash_sampled(file.get(), indexed->size, hasher);
  if (!hashed) return std::move(hashed).take_error();

  struct stat after;
  if (::fstat(file.get(), &after) != 0) return CommandError{last_os_error_text()};
  const struct timespec modified_after = stat_mtime(after);
  if (static_cast<std::uint64_t>(after.st_size) != indexed->size || modified_after.tv_sec != modified_before.tv_sec ||
      modified_after.tv_nsec != modified_before.tv_nsec) {
    return CommandError{kChangedWhileHashingError};
  }

  if (revalidate) {
    auto again = revalidate_entry(index, id);
    if (!again) return std::move(again).take_error();
  }

  std::string hex = finish_hex(hasher);
  if (!revalidate) engine.hash_cache.insert(key, hex);
  return hex;
}

}  // namespace qm
