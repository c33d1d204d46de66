#include "index/identity_set.h"

#include <new>

#include "common/large_block.h"

namespace qm {

// Capacities are powers of two, so a table this large is whole blocks.
bool IdentitySet::is_large_table(std::size_t bytes) { return bytes >= kLargeBlockAlignment; }

void IdentitySet::FreeSlots::operator()(FileId* slots) const {
  if (is_large_table(bytes)) {
    free_large_block(slots, bytes);
  } else {
    delete[] slots;
  }
}

std::uint64_t IdentitySet::hash(FileId file) {
  // Inodes of one file system are dense and sequential: mix them fully so
  // neighbours spread over the table (a 64-bit finaliser, one multiply per step).
  std::uint64_t x = file.inode ^ (file.device * 0x9E3779B97F4A7C15ull);
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

bool IdentitySet::contains(FileId file) const {
  if (file == kFree) return has_free_marker_;
  if (!slots_) return false;
  for (std::size_t at = hash(file) & mask_;; at = (at + 1) & mask_) {
    const FileId& slot = slots_[at];
    if (slot == file) return true;
    if (slot == kFree) return false;
  }
}

bool IdentitySet::insert(FileId file) {
  if (file == kFree) {
    if (has_free_marker_) return false;
    has_free_marker_ = true;
    ++size_;
    return true;
  }
  // Keep at most half the slots used so probe runs stay short.
  if (!slots_ || (size_ + 1) * 2 > mask_ + 1) grow();
  for (std::size_t at = hash(file) & mask_;; at = (at + 1) & mask_) {
    FileId& slot = slots_[at];
    if (slot == file) return false;
    if (slot == kFree) {
      slot = file;
      ++size_;
      return true;
    }
  }
}

void IdentitySet::grow() {
  const std::size_t old_capacity = slots_ ? mask_ + 1 : 0;
  const std::size_t capacity = old_capacity == 0 ? 64 : old_capacity * 2;
  const std::size_t bytes = capacity * sizeof(FileId);
  FileId* table = is_large_table(bytes) ? static_cast<FileId*>(allocate_large_block(bytes)) : new FileId[capacity];
  if (!table) throw std::bad_alloc();
  std::unique_ptr<FileId[], FreeSlots> fresh(table, FreeSlots{bytes});
  for (std::size_t i = 0; i < capacity; ++i) fresh[i] = kFree;
  const std::size_t mask = capacity - 1;
  for (std::size_t i = 0; i < old_capacity; ++i) {
    const FileId& slot = slots_[i];
    if (slot == kFree) continue;
    std::size_t at = hash(slot) & mask;
    while (!(fresh[at] == kFree)) at = (at + 1) & mask;
    fresh[at] = slot;
  }
  slots_ = std::move(fresh);
  mask_ = mask;
}

}  // namespace qm
