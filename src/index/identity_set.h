#pragma once
#include <cstdint>
#include <memory>

#include "fs/entry_metadata.h"

namespace qm {

// A set of FileIds with open addressing in one flat array: the
// scan asks it once per directory and once per multi-link file, so a lookup
// is one hash and usually one cache line, and an insert never allocates
// except when the table doubles.
class IdentitySet {
 public:
  IdentitySet() = default;

  // Adds the id; returns false when it was already present.
  bool insert(FileId file);
  bool contains(FileId file) const;
  std::size_t size() const { return size_; }

 private:
  // (all ones, all ones) marks a free slot; that id itself is kept aside.
  static constexpr FileId kFree = {UINT64_MAX, UINT64_MAX};

  static std::uint64_t hash(FileId file);
  void grow();

  // Tables of a large block or more are mapped as one (see large_block.h), so
  // the ones a growing set leaves behind go back to the system at once.
  static bool is_large_table(std::size_t bytes);
  struct FreeSlots {
    std::size_t bytes;
    void operator()(FileId* slots) const;
  };

  std::unique_ptr<FileId[], FreeSlots> slots_;
  std::size_t mask_ = 0;  // capacity - 1 (capacity is a power of two)
  std::size_t size_ = 0;
  bool has_free_marker_ = false;
};

}  // namespace qm
