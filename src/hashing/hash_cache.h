#pragma once
// The process-wide cache of file hashes the duplicate finder computed.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <unordered_map>

#include "hashing/digest.h"

namespace qm {

// What a hash covers: the whole content, the three samples, or the head (the
// first kHeadSize bytes; the whole content of a file no larger than that).
enum class HashMode : std::uint8_t { Full, Sampled, Head };

// One file as it was when it was hashed. Size and modification time can be
// put back after a change (touch -r, cp -p, rsync -t all do), so the key also
// holds the status-change time, which every change of content or times moves
// to the present and which no call can set back.
struct HashCacheKey {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::uint64_t modified = 0;  // ns since the epoch
  std::uint64_t changed = 0;   // status-change time, ns since the epoch
  HashMode mode = HashMode::Full;

  bool operator==(const HashCacheKey&) const = default;
};

struct HashCacheKeyHash {
  std::size_t operator()(const HashCacheKey& key) const;
};

// What one read of a file produced.
struct FileHashes {
  Digest digest;  // the hash of the read's mode
  // Sampled and head reads: the hash of the whole content, when the read
  // covered all of it (files up to kHeadSize).
  std::optional<Digest> content;
  // Sampled reads of a larger file: the hash of its head (its first
  // kHeadSize bytes), which the read took whole.
  std::optional<Digest> head;

  bool operator==(const FileHashes&) const = default;
};

// Hashes for the life of the process, at most kCapacity of them: inserting
// into a full cache drops the least recently used entry, so a tree larger than
// the cache keeps most of its hashes from one request to the next. The lock is
// held only for one lookup or one insert, never during file I/O.
class HashCache {
 public:
  static constexpr std::size_t kCapacity = 100000;

  HashCache() = default;
  HashCache(const HashCache&) = delete;
  HashCache& operator=(const HashCache&) = delete;

  // The stored hashes, which become the most recently used.
  std::optional<FileHashes> lookup(const HashCacheKey& key);
  // lookup for each key in order, under one lock: found[i] for keys[i].
  void lookup_each(std::span<const HashCacheKey> keys, std::span<std::optional<FileHashes>> found);
  // False when no hash of the file in this mode (of any size or times) is
  // stored, so that a caller can skip examining the file for a lookup; may be
  // true when none is stored.
  bool may_hold(std::uint64_t device, std::uint64_t inode, HashMode mode) const;
  // Stores (or replaces) the key's hashes as the most recently used; when the
  // key is new and the cache full, the least recently used entry goes first.
  void insert(const HashCacheKey& key, const FileHashes& hashes);
  std::size_t size() const;

 private:
  // Entries are chained from the most to the least recently used. A map node
  // never moves, so the chain links point into the map itself.
  struct Slot {
    FileHashes hashes;
    const HashCacheKey* key = nullptr;
    Slot* newer = nullptr;
    Slot* older = nullptr;
  };

  std::optional<FileHashes> lookup_locked(const HashCacheKey& key);  // caller holds lock_
  void unlink(Slot& slot);
  void push_newest(Slot& slot);
  // Where a file's hashes of one mode count in the filter: filter_storage_[slot] is
  // the number of stored keys that fall there.
  static std::size_t filter_slot(std::uint64_t device, std::uint64_t inode, HashMode mode);

  static constexpr std::size_t kFilterSlots = std::size_t{1} << 16;

  mutable std::mutex lock_;
  std::unordered_map<HashCacheKey, Slot, HashCacheKeyHash> map_;
  Slot* newest_ = nullptr;  // guarded by lock_
  Slot* oldest_ = nullptr;  // guarded by lock_
  // Made with the first entry; counts change under lock_ and are read without it.
  std::unique_ptr<std::atomic<std::uint32_t>[]> filter_storage_;  // guarded by lock_
  std::atomic<const std::atomic<std::uint32_t>*> filter_{nullptr};
};

}  // namespace qm
