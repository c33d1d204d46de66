#include "hashing/hash_cache.h"

#include "common/brief_lock.h"

namespace qm {

std::size_t HashCacheKeyHash::operator()(const HashCacheKey& key) const {
  // splitmix-style mixing of the six fields.
  auto mix = [](std::uint64_t h, std::uint64_t v) {
    h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    return h;
  };
  std::uint64_t h = mix(0, key.device);
  h = mix(h, key.inode);
  h = mix(h, key.size);
  h = mix(h, key.modified);
  h = mix(h, key.changed);
  h = mix(h, static_cast<std::uint64_t>(key.mode));
  return static_cast<std::size_t>(h ^ (h >> 29));
}

std::size_t HashCache::filter_slot(std::uint64_t device, std::uint64_t inode, HashMode mode) {
  // splitmix64's finalizer: sequential inode numbers spread over every slot.
  std::uint64_t h = inode + (device * 4 + static_cast<std::uint64_t>(mode)) * 0x9E3779B97F4A7C15ull;
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  h ^= h >> 31;
  return static_cast<std::size_t>(h) & (kFilterSlots - 1);
}

bool HashCache::may_hold(std::uint64_t device, std::uint64_t inode, HashMode mode) const {
  // No lock: a count read while another thread changes it only makes a
  // lookup that finds nothing, or a lookup skipped that is then a miss.
  const std::atomic<std::uint32_t>* filter = filter_.load(std::memory_order_acquire);
  return filter && filter[filter_slot(device, inode, mode)].load(std::memory_order_relaxed) != 0;
}

void HashCache::unlink(Slot& slot) {
  (slot.newer ? slot.newer->older : newest_) = slot.older;
  (slot.older ? slot.older->newer : oldest_) = slot.newer;
  slot.newer = slot.older = nullptr;
}

void HashCache::push_newest(Slot& slot) {
  slot.newer = nullptr;
  slot.older = newest_;
  (newest_ ? newest_->newer : oldest_) = &slot;
  newest_ = &slot;
}

std::optional<FileHashes> HashCache::lookup(const HashCacheKey& key) {
  const BriefLock guard(lock_);
  return lookup_locked(key);
}

void HashCache::lookup_each(std::span<const HashCacheKey> keys, std::span<std::optional<FileHashes>> found) {
  const BriefLock guard(lock_);
  for (std::size_t i = 0; i < keys.size() && i < found.size(); ++i) found[i] = lookup_locked(keys[i]);
}

std::optional<FileHashes> HashCache::lookup_locked(const HashCacheKey& key) {
  auto it = map_.find(key);
  if (it == map_.end()) return std::nullopt;
  Slot& slot = it->second;
  if (&slot != newest_) {
    unlink(slot);
    push_newest(slot);
  }
  return slot.hashes;
}

void HashCache::insert(const HashCacheKey& key, const FileHashes& hashes) {
  const BriefLock guard(lock_);
  if (auto it = map_.find(key); it != map_.end()) {
    it->second.hashes = hashes;
    unlink(it->second);
    push_newest(it->second);
    return;
  }
  if (map_.size() >= kCapacity && oldest_) {
    const HashCacheKey victim = *oldest_->key;  // a copy: erase destroys the node holding it
    unlink(*oldest_);
    map_.erase(victim);
    filter_storage_[filter_slot(victim.device, victim.inode, victim.mode)].fetch_sub(1, std::memory_order_relaxed);
  }
  if (!filter_storage_) {
    filter_storage_ = std::make_unique<std::atomic<std::uint32_t>[]>(kFilterSlots);
    filter_.store(filter_storage_.get(), std::memory_order_release);
  }
  auto [it, inserted] = map_.try_emplace(key);
  if (inserted) filter_storage_[filter_slot(key.device, key.inode, key.mode)].fetch_add(1, std::memory_order_relaxed);
  it->second.hashes = hashes;
  it->second.key = &it->first;
  push_newest(it->second);
}

std::size_t HashCache::size() const {
  std::lock_guard guard(lock_);
  return map_.size();
}

}  // namespace qm
