#pragma once
// Helpers shared by the hashing tests: engines over temporary trees, reference
// hashes from b3sum, counting the files hash_entry opens, and capturing the
// progress lines written to standard output.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "hashing/hash_hooks.h"
#include "index/engine.h"
#include "support/index_builder.h"
#include "support/temp_dir.h"

namespace qm::test {

// An engine whose index holds the tree at root (the hash cache starts empty).
inline std::unique_ptr<Engine> engine_over(const std::string& root) {
  auto engine = std::make_unique<Engine>();
  build_index_from_disk(engine->index, root);
  return engine;
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

// Records every file hash_entry opens while it is alive.
class OpenRecorder {
 public:
  OpenRecorder() {
    std::lock_guard guard(lock());
    opened().clear();
    hooks_.after_open = [](const std::string& path) {
      std::lock_guard g(lock());
      opened().push_back(path);
    };
    install_hash_hooks(&hooks_);
  }
  ~OpenRecorder() { install_hash_hooks(nullptr); }
  OpenRecorder(const OpenRecorder&) = delete;
  OpenRecorder& operator=(const OpenRecorder&) = delete;

  std::vector<std::string> take() {
    std::lock_guard guard(lock());
    std::vector<std::string> paths;
    paths.swap(opened());
    return paths;
  }

 private:
  static std::mutex& lock() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::string>& opened() {
    static std::vector<std::string> paths;
    return paths;
  }
  HashHooks hooks_;
};

// Sends standard output (file descriptor 1) to an in-memory file until lines() is called.
class CapturedStdout {
 public:
  CapturedStdout() {
    std::fflush(stdout);
    capture_ = ::memfd_create("qm-captured-stdout", MFD_CLOEXEC);
    saved_ = ::dup(1);
    if (capture_ < 0 || saved_ < 0 || ::dup2(capture_, 1) < 0) throw std::runtime_error("cannot capture stdout");
  }
  ~CapturedStdout() {
    restore();
    if (capture_ >= 0) ::close(capture_);
  }
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;

  // Restores standard output and returns the complete lines written meanwhile.
  std::vector<std::string> lines() {
    restore();
    std::string text;
    char buffer[4096];
    ::lseek(capture_, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(capture_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      result.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "output ends in a partial line";
    return result;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      ::dup2(saved_, 1);
      ::close(saved_);
      saved_ = -1;
    }
  }
  int capture_ = -1;
  int saved_ = -1;
};

// The members of a one-level JSON object whose values are numbers or plain strings
// (as progress events are), each value as its raw text with string quotes removed.
// Returns an empty map for anything else.
inline std::map<std::string, std::string> flat_members(const std::string& line) {
  std::map<std::string, std::string> members;
  if (line.size() < 2 || line.front() != '{' || line.back() != '}') return {};
  std::size_t i = 1;
  const auto read_string = [&](std::string& out) {
    if (i >= line.size() || line[i] != '"') return false;
    const std::size_t close = line.find('"', i + 1);
    if (close == std::string::npos || line.find('\\', i) < close) return false;
    out = line.substr(i + 1, close - i - 1);
    i = close + 1;
    return true;
  };
  while (i < line.size() - 1) {
    std::string key, value;
    if (!read_string(key) || i >= line.size() || line[i] != ':') return {};
    ++i;
    if (line[i] == '"') {
      if (!read_string(value)) return {};
    } else {
      const std::size_t end = line.find_first_of(",}", i);
      value = line.substr(i, end - i);
      if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos) return {};
      i = end;
    }
    if (!members.emplace(key, value).second) return {};
    if (line[i] == ',') ++i;
  }
  return members;
}

}  // namespace qm::test
