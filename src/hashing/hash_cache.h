#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace qm {

enum class HashMode : std::uint8_t { Full, Sampled };

struct HashCacheKey {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::uint64_t modified = 0;
  HashMode mode = HashMode::Full;

  bool operator==(const HashCacheKey&) const = default;
};

struct HashCacheKeyHash {
  std::size_t operator()(const HashCacheKey& key) const;
};

// Hashes the duplicate finder computed, for the life of the process. The lock is
// held only for one lookup or one empty-and-insert, never during file I/O.
class HashCache {
 public:
  static constexpr std::size_t kCapacity = 100000;

  std::optional<std::string> lookup(const HashCacheKey& key) const;
  // Empties the whole map first when it already holds kCapacity entries or more.
  void insert(const HashCacheKey& key, const std::string& hash);
  std::size_t size() const;

 private:
  mutable std::mutex lock_;
  std::unordered_map<HashCacheKey, std::string, HashCacheKeyHash> map_;
};

}  // namespace qm
