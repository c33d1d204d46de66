#pragma once
// Directories a walk has listed, held open while the subdirectories found in
// them wait their turn: each subdirectory is then opened straight from the
// descriptor its parent was listed (and checked) through, instead of the
// parent being opened again by name and checked again.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "fs/directory_reader.h"

namespace qm {

// Keys are those of the walk's directory steps, which grow in the order the
// directories are merged (the ids of a breadth-first walk), so a walk that
// merges a subdirectory of one parent is done with every parent before it.
// The merge holds and lets go, one thread at a time; any thread may find.
class ListedParents {
 public:
  explicit ListedParents(std::size_t capacity) : capacity_(capacity) {}

  std::size_t capacity() const { return capacity_; }

  // Holds the directory listed under key. False when capacity() are held
  // already: the directory is closed and its subdirectories are opened by name.
  bool hold(std::uint64_t key, std::unique_ptr<OpenDirectory> directory);

  // The directory held under key, or nullptr; it stays open while the caller keeps it.
  std::shared_ptr<const OpenDirectory> find(std::uint64_t key) const;

  // Closes every directory held under a key below key.
  void release_before(std::uint64_t key);

  std::size_t size() const;

 private:
  struct Held {
    std::uint64_t key;
    std::shared_ptr<const OpenDirectory> directory;
  };

  const std::size_t capacity_;
  mutable std::mutex lock_;
  std::deque<Held> held_;  // by key; guarded by lock_
};

// How many listed parents a walk may hold: at most `most`, and at most half
// of what the process's soft descriptor limit leaves once the walk's other
// descriptors (`others`, at most) are counted, so those and the engine's own
// always fit.
std::size_t listed_parents_capacity(std::size_t most, std::size_t others);

}  // namespace qm
