#pragma once
// Directories a walk has opened and checked, held open so that later opens
// below them start there.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "common/unique_fd.h"

namespace qm {

// Directories already reached and checked, each under a key that tells the
// directories of one walk apart (an entry id). A descriptor keeps naming the
// directory that was checked whatever is renamed later, so a walk that starts
// from one enters nothing unchecked. At most capacity() are held (the least
// recently used is closed first); safe to share between threads.
class HeldDirectories {
 public:
  // A quarter of the process's soft descriptor limit, from 16 to 256 (what a
  // duplicate search holds: it visits files in inode order, which on many
  // trees jumps between directories, and a holder smaller than the
  // directories in play would reopen them all the time).
  HeldDirectories();
  explicit HeldDirectories(std::size_t capacity);

  std::size_t capacity() const { return capacity_; }

  std::shared_ptr<const UniqueFd> find(std::uint64_t key);
  void keep(std::uint64_t key, std::shared_ptr<const UniqueFd> descriptor);
  // Closes every held descriptor (they may still be in use by a caller).
  void clear();
  std::size_t size() const;

 private:
  struct Held {
    std::uint64_t key;
    std::uint64_t last_use;
    std::shared_ptr<const UniqueFd> descriptor;
  };
  const std::size_t capacity_;
  mutable std::mutex lock_;
  std::vector<Held> held_;  // guarded by lock_
  std::uint64_t uses_ = 0;  // guarded by lock_
};

}  // namespace qm
