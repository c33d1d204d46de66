#pragma once
#include <cstdint>
#include <memory>

namespace qm {

// A set of (device, inode) pairs with open addressing in one flat array: the
// scan asks it once per directory and once per multi-link file, so a lookup
// is one hash and usually one cache line, and an insert never allocates
// except when the table doubles.
class IdentitySet {
 public:
  IdentitySet() = default;

  // Adds the pair; returns false when it was already present.
  bool insert(std::uint64_t device, std::uint64_t inode);
  bool contains(std::uint64_t device, std::uint64_t inode) const;
  std::size_t size() const { return size_; }

 private:
  struct Slot {
    std::uint64_t device;
    std::uint64_t inode;
  };
  // (all ones, all ones) marks a free slot; that pair itself is kept aside.
  static constexpr std::uint64_t kFree = UINT64_MAX;

  static std::uint64_t hash(std::uint64_t device, std::uint64_t inode);
  void grow();

  std::unique_ptr<Slot[]> slots_;
  std::size_t mask_ = 0;  // capacity - 1 (capacity is a power of two)
  std::size_t size_ = 0;
  bool has_free_marker_ = false;
};

}  // namespace qm
