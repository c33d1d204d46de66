#include "hashing/hash_cache.h"

namespace qm {

std::size_t HashCacheKeyHash::operator()(const HashCacheKey& key) const {
  // splitmix-style mixing of the five fields.
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
  h = mix(h, static_cast<std::uint64_t>(key.mode));
  return static_cast<std::size_t>(h ^ (h >> 29));
}

std::optional<std::string> HashCache::lookup(const HashCacheKey& key) const {
  std::lock_guard guard(lock_);
  auto it = map_.find(key);
  if (it == map_.end()) return std::nullopt;
  return it->second;
}

void HashCache::insert(const HashCacheKey& key, const std::string& hash) {
  std::lock_guard guard(lock_);
  if (map_.size() >= kCapacity) map_.clear();
  map_.insert_or_assign(key, hash);
}

std::size_t HashCache::size() const {
  std::lock_guard guard(lock_);
  return map_.size();
}

}  // namespace qm
