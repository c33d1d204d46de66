#pragma once
#include <cstdint>
#include <string>

#include "common/clock.h"
#include "common/result.h"
#include "fs/file_opener.h"
#include "hashing/hash_cache.h"
#include "index/index.h"

namespace qm {

inline constexpr const char* kNotAFileError = "Not a file";
inline constexpr const char* kFileChangedError = "File changed";
inline constexpr const char* kChangedWhileHashingError = "File changed while hashing";

// Bytes per read of a full hash, and the most bytes one sample read takes.
inline constexpr std::size_t kFullReadSize = 1048576;
inline constexpr std::size_t kSampleReadSize = 16384;
// A cached hash is served only for files whose indexed mtime is at least this old.
inline constexpr std::uint64_t kCacheMinimumAgeNs = 4000000000ull;

// What hashing reads files and time through.
struct HashContext {
  const FileOpener& files;
  const Clock& clock;
};

// BLAKE3 of one indexed regular file as 64 lowercase hex digits. Refuses a file
// that differs from the index, or that changed while it was read.
// revalidate set: the item and its ancestors are checked on disk before and after,
// and the cache is neither read nor written.
// revalidate clear: the cache serves files at least 4 s old and stores every result.
// Safe to call from several threads at once; the Index is only read.
Result<std::string> hash_entry(const Index& index, HashCache& cache, const HashContext& context, std::uint64_t id,
                               HashMode mode, bool revalidate);

}  // namespace qm
