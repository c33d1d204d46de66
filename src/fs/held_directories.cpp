#include "fs/held_directories.h"

#include <algorithm>
#include <utility>

#include "common/brief_lock.h"
#include "common/descriptor_limit.h"

namespace qm {
namespace {

std::size_t capacity_for_descriptor_limit() {
  constexpr std::uint64_t kFewest = 16;
  constexpr std::uint64_t kMost = 256;
  return static_cast<std::size_t>(std::clamp(soft_descriptor_limit() / 4, kFewest, kMost));
}

}  // namespace

HeldDirectories::HeldDirectories() : HeldDirectories(capacity_for_descriptor_limit()) {}

HeldDirectories::HeldDirectories(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

std::shared_ptr<const UniqueFd> HeldDirectories::find(std::uint64_t key) {
  const BriefLock guard(lock_);
  for (Held& held : held_) {
    if (held.key == key) {
      held.last_use = ++uses_;
      return held.descriptor;
    }
  }
  return nullptr;
}

void HeldDirectories::keep(std::uint64_t key, std::shared_ptr<const UniqueFd> descriptor) {
  std::shared_ptr<const UniqueFd> dropped;  // closed after the lock is let go
  const BriefLock guard(lock_);
  for (Held& held : held_) {
    if (held.key == key) {
      dropped = std::exchange(held.descriptor, std::move(descriptor));
      held.last_use = ++uses_;
      return;
    }
  }
  if (held_.size() < capacity_) {
    held_.push_back({key, ++uses_, std::move(descriptor)});
    return;
  }
  Held& oldest = *std::min_element(held_.begin(), held_.end(),
                                   [](const Held& a, const Held& b) { return a.last_use < b.last_use; });
  dropped = std::exchange(oldest.descriptor, std::move(descriptor));
  oldest.key = key;
  oldest.last_use = ++uses_;
}

void HeldDirectories::clear() {
  std::vector<Held> dropped;
  std::lock_guard guard(lock_);
  dropped.swap(held_);
}

std::size_t HeldDirectories::size() const {
  std::lock_guard guard(lock_);
  return held_.size();
}

}  // namespace qm
