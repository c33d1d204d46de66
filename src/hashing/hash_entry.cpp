#include "hashing/hash_entry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "blake3.h"
#include "common/large_block.h"
#include "common/os_error.h"
#include "common/unique_fd.h"
#include "fs/entry_metadata.h"
#include "fs/stat_fields.h"
#include "hashing/blake3_hex.h"
#include "index/entry_lookup.h"
#include "index/entry_place.h"

namespace qm {
namespace {

// A large block: page alignment lets the kernel copy whole pages into the
// buffer (a plain malloc of 1 MiB sits 16 bytes past a page start, which made
// reads from a warm page cache about a quarter slower), and one large page
// replaces 256 first-touch faults per worker.
static_assert(kFullReadSize <= kLargeBlockAlignment);

struct FreeBuffer {
  void operator()(unsigned char* buffer) const { free_large_block(buffer, kLargeBlockAlignment); }
};

// One read buffer per thread, allocated on first use and kept: a duplicate
// search hashes thousands of files per worker, and a fresh 1 MiB buffer per
// file would cost a page-faulting allocation each time. Nothing is read from
// it that a read did not put there.
unsigned char* read_buffer() {
  thread_local std::unique_ptr<unsigned char[], FreeBuffer> buffer([] {
    void* bytes = allocate_large_block(kLargeBlockAlignment);
    if (!bytes) throw std::bad_alloc();
    return static_cast<unsigned char*>(bytes);
  }());
  return buffer.get();
}

// At least kCacheMinimumAgeNs from then to now (a time in the future is 0 old).
bool at_least_minimum_age(std::uint64_t now_ns, std::uint64_t then_ns) {
  const std::uint64_t age = now_ns > then_ns ? now_ns - then_ns : 0;
  return age >= kCacheMinimumAgeNs;
}

std::uint64_t changed_ns(const struct stat& st) {
  const struct timespec& ctime = stat_ctime(st);
  return modified_nanoseconds(ctime.tv_sec, ctime.tv_nsec);
}

ssize_t pread_retrying(int fd, unsigned char* buffer, std::size_t length, std::uint64_t offset) {
  ssize_t n;
  do {
    n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  return n;
}

// The part of a hasher in use: everything before its stack of chaining
// values, and the stack up to its height.
std::size_t used_state_size(const blake3_hasher& hasher) {
  return offsetof(blake3_hasher, cv_stack) + std::size_t{hasher.cv_stack_len} * BLAKE3_OUT_LEN;
}

void keep_state(const blake3_hasher& hasher, HeadContinuation& continuation) {
  const std::size_t size = used_state_size(hasher);
  auto state = std::make_shared<unsigned char[]>(size);
  std::memcpy(state.get(), &hasher, size);
  continuation.state = std::move(state);
  continuation.state_size = size;
}

bool restore_state(const HeadContinuation& continuation, blake3_hasher& hasher) {
  init_hasher(hasher);
  if (!continuation.state || continuation.state_size < offsetof(blake3_hasher, cv_stack) ||
      continuation.state_size > sizeof hasher) {
    return false;
  }
  std::memcpy(&hasher, continuation.state.get(), continuation.state_size);
  return used_state_size(hasher) == continuation.state_size;
}

// The whole content in 1 MiB reads until end of file, or what follows the
// head when `resumed` holds the hasher after it. A file that grows past its
// indexed size has changed for sure; stopping there keeps a file that is being
// written without end from holding a worker forever.
Result<Digest> hash_full(const FileOpener& files, int fd, std::uint64_t indexed_size, const HeadContinuation* resumed) {
  blake3_hasher hasher;
  std::uint64_t total = 0;
  if (resumed && indexed_size > kHeadSize && restore_state(*resumed, hasher) &&
      ::lseek(fd, static_cast<off_t>(kHeadSize), SEEK_SET) == static_cast<off_t>(kHeadSize)) {
    total = kHeadSize;
  } else {
    init_hasher(hasher);
  }
#if defined(POSIX_FADV_SEQUENTIAL)
  ::posix_fadvise(fd, static_cast<off_t>(total), 0, POSIX_FADV_SEQUENTIAL);
#endif
  unsigned char* buffer = read_buffer();
  for (;;) {
    const ssize_t n = files.read_some(fd, buffer, kFullReadSize);
    if (n < 0) return CommandError{last_os_error_text()};
    if (n == 0) return finish_digest(hasher);
    blake3_hasher_update(&hasher, buffer, static_cast<std::size_t>(n));
    total += static_cast<std::uint64_t>(n);
    if (total > indexed_size) return CommandError{kChangedWhileHashingError};
  }
}

// The first length bytes into buffer; the file ending sooner means it shrank.
Result<bool> read_from_start(int fd, unsigned char* buffer, std::size_t length) {
  std::size_t total = 0;
  while (total < length) {
    const ssize_t n = pread_retrying(fd, buffer + total, length - total, total);
    if (n < 0) return CommandError{last_os_error_text()};
    if (n == 0) return CommandError{kChangedWhileHashingError};
    total += static_cast<std::size_t>(n);
  }
  return true;
}

// Where the three samples start: 0, tail / 2 and tail.
std::array<std::uint64_t, 3> sample_offsets(std::uint64_t size) {
  const std::uint64_t tail = size > kSampleReadSize ? size - kSampleReadSize : 0;
  return {0, tail / 2, tail};
}

// The sampled hash of a file held whole in content: its content hash when the
// samples cover it, else the hash of its three samples.
Digest sampled_from_whole(const unsigned char* content, std::uint64_t size, const Digest& content_hash) {
  if (size <= kSamplesCoverWholeFile) return content_hash;
  blake3_hasher hasher;
  init_hasher(hasher);
  for (const std::uint64_t offset : sample_offsets(size)) blake3_hasher_update(&hasher, content + offset, kSampleReadSize);
  return finish_digest(hasher);
}

// A file no larger than its head: read once, whole; it carries its content hash.
// Fewer bytes than indexed: it shrank.
Result<FileHashes> hash_sampled_whole(int fd, std::uint64_t indexed_size) {
  unsigned char* buffer = read_buffer();
  const auto size = static_cast<std::size_t>(indexed_size);
  auto read = read_from_start(fd, buffer, size);
  if (!read) return std::move(read).take_error();
  const Digest content = blake3_digest({reinterpret_cast<const char*>(buffer), size});
  return FileHashes{sampled_from_whole(buffer, indexed_size, content), content, std::nullopt};
}

// A larger file: its head whole, whose first kSampleReadSize bytes are the
// first sample, then the other two samples (from the head where they lie in
// it). A sample read short counts only the bytes returned: the file shrank,
// which the checks after the read find. The hasher after the head goes to
// `continuation` when one is given.
Result<FileHashes> hash_sampled_with_head(int fd, std::uint64_t indexed_size, HeadContinuation* continuation) {
  unsigned char* buffer = read_buffer();
  auto read = read_from_start(fd, buffer, kHeadSize);
  if (!read) return std::move(read).take_error();
  blake3_hasher head;
  init_hasher(head);
  blake3_hasher_update(&head, buffer, kSampleReadSize);
  blake3_hasher sampled = head;  // a plain struct: the copy goes on by itself
  blake3_hasher_update(&head, buffer + kSampleReadSize, kHeadSize - kSampleReadSize);

  unsigned char* sample = buffer + kHeadSize;
  const auto offsets = sample_offsets(indexed_size);
  for (std::size_t i = 1; i < offsets.size(); ++i) {
    const std::uint64_t offset = offsets[i];
    if (offset + kSampleReadSize <= kHeadSize) {
      blake3_hasher_update(&sampled, buffer + offset, kSampleReadSize);
      continue;
    }
    const ssize_t n = pread_retrying(fd, sample, kSampleReadSize, offset);
    if (n < 0) return CommandError{last_os_error_text()};
    blake3_hasher_update(&sampled, sample, static_cast<std::size_t>(n));
  }
  if (continuation) keep_state(head, *continuation);
  return FileHashes{finish_digest(sampled), std::nullopt, finish_digest(head)};
}

// The first kHeadSize bytes (all of a smaller file), read from the start; for
// a larger file the hasher after them goes to `continuation` when one is given.
Result<FileHashes> hash_head(int fd, std::uint64_t indexed_size, HeadContinuation* continuation) {
  unsigned char* buffer = read_buffer();
  const auto length = static_cast<std::size_t>(std::min(indexed_size, kHeadSize));
  auto read = read_from_start(fd, buffer, length);
  if (!read) return std::move(read).take_error();
  blake3_hasher hasher;
  init_hasher(hasher);
  blake3_hasher_update(&hasher, buffer, length);
  const Digest head = finish_digest(hasher);
  if (indexed_size <= kHeadSize) return FileHashes{head, head, std::nullopt};
  if (continuation) keep_state(hasher, *continuation);
  return FileHashes{head, std::nullopt, std::nullopt};
}

// continuation: filled by a sampled or head read; a full read goes on from it when given one.
Result<FileHashes> read_hashes(const FileOpener& files, int fd, std::uint64_t indexed_size, HashMode mode,
                               HeadContinuation* continuation) {
  if (mode == HashMode::Sampled) {
    return indexed_size <= kHeadSize ? hash_sampled_whole(fd, indexed_size)
                                     : hash_sampled_with_head(fd, indexed_size, continuation);
  }
  if (mode == HashMode::Head) return hash_head(fd, indexed_size, continuation);
  auto digest = hash_full(files, fd, indexed_size, continuation);
  if (!digest) return std::move(digest).take_error();
  return FileHashes{*digest, std::nullopt, std::nullopt};
}

// The name in its directory examined with lstat: its status-change time when it
// is the indexed file with the indexed size and modification time; otherwise
// kFileChangedError, or why it cannot be examined or admitted.
Result<std::uint64_t> examine_as_indexed(int directory_fd, std::string_view name, const EntryMetadata& was) {
  auto fresh = stat_entry_status_at(directory_fd, name);
  if (!fresh) return std::move(fresh).take_error();
  if (fresh->metadata.file != was.file || fresh->metadata.size != was.size || fresh->metadata.modified != was.modified) {
    return CommandError{kFileChangedError};
  }
  return fresh->changed;
}

Result<std::uint64_t> examine_as_indexed(const EntryPlace& place, const EntryMetadata& was) {
  return examine_as_indexed(place.directory_fd(), place.name, was);
}

// Whether the cache may hold a hash of the file that it can serve at
// read_start_ns: files modified less than kCacheMinimumAgeNs before are read.
bool cache_may_serve(const HashCache& cache, std::uint64_t read_start_ns, const EntryMetadata& was, HashMode mode) {
  return at_least_minimum_age(read_start_ns, was.modified) && cache.may_hold(was.file.device, was.file.inode, mode);
}

// The cache's key for the indexed file in mode, with its status-change time now.
HashCacheKey cache_key(const EntryMetadata& was, HashMode mode, std::uint64_t changed) {
  return {was.file.device, was.file.inode, was.size, was.modified, changed, mode};
}

// The indexed entry's id and record; its path is not needed to hash it.
Result<Item> indexed_file(const Index& index, std::uint64_t id) {
  auto checked = indexed_id(index, id);
  if (!checked) return std::move(checked).take_error();
  Item item;
  item.id = *checked;
  item.metadata = index.metadata(item.id);
  return item;
}

}  // namespace

Result<FileHashes> hash_entry(const Index& index, HashCache& cache, const HashContext& context, std::uint64_t id,
                              HashMode mode, bool revalidate, HeadContinuation* continuation) {
  auto indexed = revalidate ? revalidate_entry(index, id) : indexed_file(index, id);
  if (!indexed) return std::move(indexed).take_error();
  const EntryMetadata& was = indexed->metadata;
  if (was.directory) return CommandError{kNotAFileError};

  // The file's directory, reached name by name from "/" (or from a directory
  // of the index already reached so) through no link and with no path length
  // limit; the file is examined and opened there.
  auto place = open_entry_parent(index, indexed->id, revalidate ? nullptr : context.directories);
  if (!place) return std::move(place).take_error();

  // The cache is used unless revalidating, and only with a wall clock not before the epoch.
  const std::int64_t wall_ns = revalidate ? -1 : context.clock.wall_ns();
  const bool use_cache = wall_ns >= 0;
  const std::uint64_t read_start_ns = use_cache ? static_cast<std::uint64_t>(wall_ns) : 0;
  const bool may_serve = use_cache && cache_may_serve(cache, read_start_ns, was, mode);
  HashCacheKey key = cache_key(was, mode, 0);

  // The file as it is now: one lstat, no read. The cache is keyed by what it
  // shows. A duplicate search skips it for files the cache cannot serve: the
  // checks after the open find every change it would.
  if (revalidate || may_serve) {
    auto changed = examine_as_indexed(*place, was);
    if (!changed) return std::move(changed).take_error();
    key.changed = *changed;
    if (may_serve) {
      if (auto cached = cache.lookup(key)) return std::move(*cached);
    }
  }

  const UniqueFd file(context.files.open_for_reading(place->directory_fd(), place->name));
  if (file.get() < 0) {
    const int error = errno;
    auto examined = examine_as_indexed(*place, was);  // why, in the words of the lstat when it tells
    if (!examined) return std::move(examined).take_error();
    return CommandError{os_error_text(error)};
  }

  struct stat before;
  if (::fstat(file.get(), &before) != 0) return CommandError{last_os_error_text()};
  const struct timespec modified_before = stat_mtime(before);
  // Anything but the regular file that was indexed (a fifo or device now under the
  // name, even one that reuses the inode number) is refused before a byte is read.
  if (!S_ISREG(before.st_mode) || (stat_file_flags(before) & kDatalessFlag) ||
      FileId{stat_device(before), static_cast<std::uint64_t>(before.st_ino)} != was.file ||
      static_cast<std::uint64_t>(before.st_size) != was.size ||
      modified_nanoseconds(modified_before.tv_sec, modified_before.tv_nsec) != was.modified) {
    auto examined = examine_as_indexed(*place, was);
    if (!examined) return std::move(examined).take_error();
    return CommandError{kFileChangedError};
  }

  // A full read goes on from the head read only while the file is as it was
  // then: any write since moved its status-change time.
  HeadContinuation* resumed = nullptr;
  if (mode == HashMode::Full && continuation && continuation->state && continuation->changed == changed_ns(before)) {
    resumed = continuation;
  }
  HeadContinuation kept;
  const bool keeps = mode == HashMode::Head || mode == HashMode::Sampled;
  auto hashed = read_hashes(context.files, file.get(), was.size, mode, keeps ? (continuation ? &kept : nullptr) : resumed);
  if (!hashed) return hashed;

  // Size and both times as before the read: a write that put the modification
  // time back still moved the status-change time.
  struct stat after;
  if (::fstat(file.get(), &after) != 0) return CommandError{last_os_error_text()};
  const struct timespec modified_after = stat_mtime(after);
  if (static_cast<std::uint64_t>(after.st_size) != was.size || modified_after.tv_sec != modified_before.tv_sec ||
      modified_after.tv_nsec != modified_before.tv_nsec || changed_ns(after) != changed_ns(before)) {
    return CommandError{kChangedWhileHashingError};
  }

  if (revalidate) {
    auto again = revalidate_entry(index, id);
    if (!again) return std::move(again).take_error();
  }

  key.changed = changed_ns(before);
  if (use_cache && at_least_minimum_age(read_start_ns, key.changed)) cache.insert(key, *hashed);
  if (kept.state) {
    kept.changed = key.changed;
    *continuation = std::move(kept);
  }
  return hashed;
}

void serve_cached(const Index& index, HashCache& cache, const HashContext& context, std::span<const EntryId> ids,
                  HashMode mode, std::span<std::optional<FileHashes>> served) {
  const std::int64_t wall_ns = context.clock.wall_ns();
  if (wall_ns < 0) return;
  const auto read_start_ns = static_cast<std::uint64_t>(wall_ns);

  // The files the cache may serve, in the directory of the first of them.
  struct Candidate {
    std::size_t at;
    EntryId id;
    EntryMetadata was;
  };
  std::vector<Candidate> candidates;
  candidates.reserve(ids.size());
  EntryId parent = kNoEntry;
  for (std::size_t i = 0; i < ids.size() && i < served.size(); ++i) {
    auto indexed = indexed_file(index, ids[i]);
    if (!indexed || indexed->id == 0 || indexed->metadata.directory) continue;
    if (!cache_may_serve(cache, read_start_ns, indexed->metadata, mode)) continue;
    const EntryId file_parent = index.parent(indexed->id);
    if (parent == kNoEntry) parent = file_parent;
    if (file_parent != parent) continue;
    candidates.push_back({i, indexed->id, indexed->metadata});
  }
  if (candidates.empty()) return;
  auto place = open_entry_parent(index, candidates.front().id, context.directories);
  if (!place) return;

  // One lstat after another, then one visit to the cache for all of them.
  std::vector<HashCacheKey> keys;
  std::vector<std::size_t> at;
  keys.reserve(candidates.size());
  at.reserve(candidates.size());
  for (const Candidate& candidate : candidates) {
    auto changed = examine_as_indexed(place->directory_fd(), index.os_name(candidate.id), candidate.was);
    if (!changed) continue;
    keys.push_back(cache_key(candidate.was, mode, *changed));
    at.push_back(candidate.at);
  }
  std::vector<std::optional<FileHashes>> found(keys.size());
  cache.lookup_each(keys, found);
  for (std::size_t k = 0; k < found.size(); ++k) served[at[k]] = std::move(found[k]);
}

}  // namespace qm
