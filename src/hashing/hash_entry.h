#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "common/clock.h"
#include "common/result.h"
#include "fs/file_opener.h"
#include "hashing/hash_cache.h"
#include "index/entry_place.h"
#include "index/index.h"

namespace qm {

inline constexpr const char* kNotAFileError = "Not a file";
inline constexpr const char* kFileChangedError = "File changed";
inline constexpr const char* kChangedWhileHashingError = "File changed while hashing";

// Bytes per read of a full hash, and the most bytes one sample read takes.
inline constexpr std::size_t kFullReadSize = 1048576;
inline constexpr std::size_t kSampleReadSize = 16384;
// The three samples cover every byte of a file up to this size, and its
// sampled hash is its content hash.
inline constexpr std::uint64_t kSamplesCoverWholeFile = 3 * kSampleReadSize;
// The bytes a head hash covers. Files that share their three samples but not
// their content mostly differ close to the start; reading this much of each
// costs about what the samples cost and spares reading such files whole.
// A sampled read takes the head whole in place of the first sample, so that
// a file whose samples match another's needs no second open for its head.
inline constexpr std::uint64_t kHeadSize = 65536;
// A cached hash is served only for files whose indexed mtime is at least this
// old, and stored only for files whose status-change time was at least this
// long before the read began: a change within the timestamps' granularity
// after the read could otherwise leave both times as they were.
inline constexpr std::uint64_t kCacheMinimumAgeNs = 4000000000ull;

// What hashing reads files and time through.
struct HashContext {
  const FileOpener& files;
  const Clock& clock;
  // Directories held open across the files of one command (see open_entry_parent).
  OpenedDirectories* directories = nullptr;
};

// Where the full read of a file can go on from its head read instead of from
// the start: the hasher after the first kHeadSize bytes and the file's
// status-change time at that read. Only the part of the hasher in use is
// kept (BLAKE3 holds its tree as a stack of chaining values, a few hundred
// bytes after a head), so many files' continuations fit in little memory.
struct HeadContinuation {
  // Shared, never written once made: copies of a continuation cost no bytes.
  std::shared_ptr<const unsigned char[]> state;  // empty: none
  std::size_t state_size = 0;
  std::uint64_t changed = 0;  // ns since the epoch
};

// BLAKE3 of one indexed regular file (full, sampled or head). Refuses a file that
// differs from the index, or that changed (content, size, times) while it was read.
// revalidate set: the item and its ancestors are checked on disk before and after,
// and the cache is neither read nor written.
// revalidate clear: the directories on the way may come from
// context.directories; when the cache may hold the file in this mode, one
// lstat of it as it is now comes first, and the cache serves a hash only when
// identity, size, modification and status-change times all match it and the
// file is at least 4 s old; results are stored unless the file changed less
// than 4 s before the read (see kCacheMinimumAgeNs). Whatever the lstat would
// refuse, the checks after the open refuse too, with the same error.
// A sampled read of a file no larger than kHeadSize reads it whole and
// carries its content hash, which is also the sampled hash of a file no larger
// than kSamplesCoverWholeFile; a sampled read of a larger file carries its
// head hash. A head hash of a file no larger than kHeadSize carries the
// content hash too.
// With `continuation`: a sampled or head read of a file larger than kHeadSize
// fills it (unless served from the cache); a full read given a filled one
// reads only what follows the head when the file's status-change time is
// still the one it holds, and from the start otherwise.
// Safe to call from several threads at once; the Index is only read.
Result<FileHashes> hash_entry(const Index& index, HashCache& cache, const HashContext& context, std::uint64_t id,
                              HashMode mode, bool revalidate, HeadContinuation* continuation = nullptr);

// The hashes the cache holds for files of one directory, served as
// hash_entry (revalidate clear) would serve them from the cache, with the
// directory reached once, the files examined one lstat after another and the
// cache visited once for them all. served[i] is set for ids[i] when the cache
// served it; files it does not serve (not cached, changed, failing, not in
// the directory of the first file the cache may hold) are left empty for
// hash_entry, which reads them or says why it cannot.
void serve_cached(const Index& index, HashCache& cache, const HashContext& context, std::span<const EntryId> ids,
                  HashMode mode, std::span<std::optional<FileHashes>> served);

}  // namespace qm
