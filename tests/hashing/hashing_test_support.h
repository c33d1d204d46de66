#pragma once
// Helpers shared by the hashing tests: indexes over temporary trees with a
// cache and a recording file opener, reference hashes from b3sum.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "fs/entry_metadata.h"
#include "fs/file_opener.h"
#include "hashing/blake3_hex.h"
#include "hashing/hash_cache.h"
#include "hashing/hash_entry.h"
#include "index/index.h"
#include "support/index_builder.h"
#include "support/temp_dir.h"

namespace qm::test {

// A file opener that records every path opened for hashing and may act after
// each read (a test changes a file there, in the middle of a full hash).
class RecordingOpener final : public FileOpener {
 public:
  // Called after each read that returned bytes, with the bytes read from the file so far.
  std::function<void(const std::string& path, std::uint64_t total)> after_read;

  int open_for_reading(int at, const std::string& name) const override {
    const int fd = FileOpener::open_for_reading(at, name);
    const std::string path = full_path(at, name);
    const std::lock_guard lock(lock_);
    opened_.push_back(path);
    if (fd >= 0) files_[fd] = {path, 0};
    return fd;
  }

  ssize_t read_some(int fd, unsigned char* buffer, std::size_t length) const override {
    const ssize_t n = FileOpener::read_some(fd, buffer, length);
    if (n <= 0 || !after_read) return n;
    std::pair<std::string, std::uint64_t> file;
    {
      const std::lock_guard lock(lock_);
      auto& [path, total] = files_[fd];
      total += static_cast<std::uint64_t>(n);
      file = {path, total};
    }
    after_read(file.first, file.second);
    return n;
  }

  // The paths opened since the last call.
  std::vector<std::string> take() {
    const std::lock_guard lock(lock_);
    std::vector<std::string> paths;
    paths.swap(opened_);
    return paths;
  }

 private:
  // The path a name opened relative to a directory descriptor stands for.
  static std::string full_path(int at, const std::string& name) {
    if (at == AT_FDCWD || (!name.empty() && name.front() == '/')) return name;
    char target[4096];
    const ssize_t length = ::readlink(("/proc/self/fd/" + std::to_string(at)).c_str(), target, sizeof target);
    if (length <= 0) return name;
    std::string path(target, static_cast<std::size_t>(length));
    if (path != "/") path += '/';
    return path + name;
  }

  mutable std::mutex lock_;
  mutable std::vector<std::string> opened_;
  mutable std::map<int, std::pair<std::string, std::uint64_t>> files_;  // by descriptor: path, bytes read
};

// The machine's clocks with the wall clock a minute ahead: hashing runs as if
// a minute after the test wrote its files, whose status-change times are then
// old enough for their hashes to be cached.
class MinuteLaterClock final : public Clock {
 public:
  TimePoint now() const override { return system_clock().now(); }
  std::int64_t wall_ns() const override { return system_clock().wall_ns() + 60'000'000'000; }
};

inline const Clock& minute_later_clock() {
  static const MinuteLaterClock clock;
  return clock;
}

// What the hashing works on: an index, the hash cache, and its seams.
struct HashingState {
  Index index;
  HashCache hash_cache;
  RecordingOpener files;
  const Clock* clock = &minute_later_clock();

  HashContext context() const { return {files, *clock}; }
};

// Hashing state whose index holds the tree at root (the hash cache starts empty).
inline std::unique_ptr<HashingState> engine_over(const std::string& root) {
  auto state = std::make_unique<HashingState>();
  build_index_from_disk(state->index, root);
  return state;
}

inline Result<FileHashes> hash_entry_hashes(HashingState& state, std::uint64_t id, HashMode mode, bool revalidate,
                                            HeadContinuation* continuation = nullptr) {
  return qm::hash_entry(state.index, state.hash_cache, state.context(), id, mode, revalidate, continuation);
}

// The hash of the mode, in hex.
inline Result<std::string> hash_entry(HashingState& state, std::uint64_t id, HashMode mode, bool revalidate) {
  auto hashed = hash_entry_hashes(state, id, mode, revalidate);
  if (!hashed) return std::move(hashed).take_error();
  return digest_hex(hashed->digest);
}

// The status-change time of path in ns, as the hash cache keys it.
inline std::uint64_t changed_time_of(const std::string& path) {
  auto status = stat_entry_status(path);
  if (!status) throw std::runtime_error("cannot stat " + path + ": " + status.error());
  return status->changed;
}

// The id of the entry at path, or kNoEntry.
inline EntryId id_of(const Index& index, const std::string& path) {
  for (EntryId id = 0; id < index.count(); ++id) {
    if (index.entry_path(id) == path) return id;
  }
  return kNoEntry;
}

// Deterministic bytes that differ from one call to the next (no repeats inside 16 KiB windows).
inline std::string pseudo_random_bytes(std::size_t size, std::uint64_t seed) {
  std::string bytes(size, '\0');
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<char>(state >> 56);
  }
  return bytes;
}

// A modification time well in the past, so the hash cache may serve the file.
inline void make_old(const std::string& path, long nanoseconds = 0) { set_mtime(path, 1600000000, nanoseconds); }

// The hash b3sum prints for a file.
inline std::string b3sum_of(const std::string& path) {
  const std::string command = "b3sum --no-names '" + path + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run b3sum");
  char line[128] = {};
  const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  if (!got) throw std::runtime_error("b3sum printed nothing for " + path);
  std::string hash(line);
  while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r')) hash.pop_back();
  return hash;
}

}  // namespace qm::test
