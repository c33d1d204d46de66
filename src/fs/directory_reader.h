#pragma once
// Reading directories, behind an interface so the engine can pick its reader
// once at start-up and tests can step into a listing.
//
// A directory is read one buffer-full ("part") at a time. Listing a huge
// directory whole costs twice: its listing sits in memory beside the index,
// and one thread makes every stat call. Read in parts, one thread reads the
// raw records while others decode the parts already read, and each decoded
// part can be merged and freed while the rest is still being read.
#include <fcntl.h>

#include <cstddef>
#include <memory>
#include <string_view>

#include "common/unique_fd.h"
#include "fs/compact_listing.h"
#include "fs/entry_metadata.h"

namespace qm {

// The raw records of one part, as the reader's read left them.
struct RawPart {
  static constexpr std::size_t kCapacity = 65536;
  std::unique_ptr<unsigned char[]> bytes = std::make_unique_for_overwrite<unsigned char[]>(kCapacity);
  long filled = 0;        // what the read returned (0: the end)
  CompactListing listed;  // where a reader lists a directory whole, its listing
};

// One directory opened by a DirectoryReader.
class OpenDirectory {
 public:
  virtual ~OpenDirectory() = default;

  // Reads the next part's names into raw: true with raw.filled > 0 for a part,
  // true with 0 at the end, false when the read failed (one error; the parts
  // read before stand). Callers take turns: reads share the directory's position.
  virtual bool read_part(RawPart& raw) = 0;

  // Appends the admitted entries of one part to out and counts the rest in
  // out.skipped. Several threads may decode parts of the same directory at
  // once, each with its own raw part.
  virtual void decode_part(RawPart& raw, CompactListing& out) const = 0;

  // True when the directory is `file` (device and inode). first: its first
  // part as read_part left it. A reader that finds the directory's own entry
  // there takes its inode from it and spares a system call; the device is the
  // one the name was listed on (only a mount could bring another under it,
  // and a mounted directory's own entry holds its file system's root inode).
  // When that entry is missing or disagrees, the system is asked.
  virtual bool is_object(const FileId& file, const RawPart& first) const = 0;

  // The directory's descriptor, to open names below it with; it stays this object's.
  virtual int descriptor() const = 0;
};

class DirectoryReader {
 public:
  virtual ~DirectoryReader() = default;

  // Reads the directory open at `directory` (a descriptor opened for reading,
  // as open_directory_at opens one), which it takes over: the returned object
  // closes it, or it is closed here when nullptr is returned (it cannot be
  // read, which a listing counts as one error). path names the directory for
  // whoever wraps a reader; it is never opened. Safe to call from several threads.
  virtual std::unique_ptr<OpenDirectory> adopt(UniqueFd directory, std::string_view path) const = 0;

  // Opens path, resolved against the directory descriptor `at` (AT_FDCWD: the
  // working directory) without following a link as its last component, and
  // adopts it; nullptr when it cannot be opened or read.
  std::unique_ptr<OpenDirectory> open(int at, std::string_view path) const;
};

// The platform's fast reader: getattrlistbulk on macOS (a directory is one
// part; it falls back to the portable reader by itself), getdents64 plus one
// fstatat per entry on Linux.
const DirectoryReader& fast_directory_reader();

// The directory stream (opendir/readdir) and one lstat per entry on the joined path.
const DirectoryReader& portable_directory_reader();

// The reader the QUILLMARSH_STANDARD_READDIR switch selects: the portable one when set.
const DirectoryReader& directory_reader_for(bool standard_readdir);

// Lists a whole directory: every part read and decoded in order into one
// listing. raw is the caller's buffer, reused across calls.
CompactListing list_directory(const DirectoryReader& reader, std::string_view path, RawPart& raw);

// The same for a directory already open (nullptr: it could not be opened, one error).
CompactListing list_open_directory(std::unique_ptr<OpenDirectory> directory, RawPart& raw);

}  // namespace qm
