#include "index/listed_parents.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "common/descriptor_limit.h"

namespace qm {
namespace {

bool key_below(const auto& held, std::uint64_t key) { return held.key < key; }

}  // namespace

bool ListedParents::hold(std::uint64_t key, std::unique_ptr<OpenDirectory> directory) {
  if (capacity_ == 0) return false;
  std::shared_ptr<const OpenDirectory> shared(std::move(directory));
  const std::lock_guard guard(lock_);
  if (held_.size() >= capacity_) return false;  // closed once the lock is let go
  // Keys come in increasing order; one that does not still lands in order.
  const auto at = std::lower_bound(held_.begin(), held_.end(), key, key_below<Held>);
  if (at != held_.end() && at->key == key) return false;
  held_.insert(at, {key, std::move(shared)});
  return true;
}

std::shared_ptr<const OpenDirectory> ListedParents::find(std::uint64_t key) const {
  const std::lock_guard guard(lock_);
  const auto at = std::lower_bound(held_.begin(), held_.end(), key, key_below<Held>);
  if (at == held_.end() || at->key != key) return nullptr;
  return at->directory;
}

void ListedParents::release_before(std::uint64_t key) {
  std::vector<std::shared_ptr<const OpenDirectory>> closing;  // closed once the lock is let go
  const std::lock_guard guard(lock_);
  while (!held_.empty() && held_.front().key < key) {
    closing.push_back(std::move(held_.front().directory));
    held_.pop_front();
  }
}

std::size_t ListedParents::size() const {
  const std::lock_guard guard(lock_);
  return held_.size();
}

std::size_t listed_parents_capacity(std::size_t most, std::size_t others) {
  const std::uint64_t soft = soft_descriptor_limit();
  if (soft <= others) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(most, (soft - others) / 2));
}

}  // namespace qm
