#pragma once
// One directory read a buffer-full ("part") at a time. Listing a huge directory
// whole costs twice: its listing sits in memory beside the index, and one thread
// makes every stat call. Read in parts, one thread reads the raw records while
// others decode the parts already read, and each decoded part can be merged and
// freed while the rest is still being read.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/unique_fd.h"
#include "fs/dir_listing.h"

namespace qm {

// The raw records of one part, as the platform's read left them.
struct RawPart {
  static constexpr std::size_t kCapacity = 65536;
  std::unique_ptr<unsigned char[]> bytes = std::make_unique<unsigned char[]>(kCapacity);
  long filled = 0;        // what the read returned (0: the end)
  CompactListing listed;  // where a platform lists a directory whole, its listing
};

class PartedDirectory {
 public:
  // Opens the directory; is_open() is false when it cannot be (an unreadable
  // directory, one error).
  explicit PartedDirectory(std::string_view path);
  ~PartedDirectory();
  PartedDirectory(const PartedDirectory&) = delete;
  PartedDirectory& operator=(const PartedDirectory&) = delete;

  bool is_open() const;

  // Reads the next part into raw: true with raw.filled > 0 for a part, true
  // with 0 at the end, false when the read failed (one error; the parts read
  // before stand). Callers take turns: reads share the directory's position.
  // The first part read runs the listing hook.
  bool read_part(RawPart& raw);

  // Appends the admitted entries of one part to out and counts the rest in
  // out.skipped. Several threads may decode parts of the same directory at
  // once, each with its own raw part.
  void decode_part(RawPart& raw, CompactListing& out) const;

 private:
  std::string path_;  // for the listing hook
  UniqueFd fd_;
  bool first_part_ = true;
  [[maybe_unused]] bool listed_whole_ = false;  // macOS: the first reply sent the directory to the portable reader
};

}  // namespace qm
