#pragma once
// The one state object of the process, and what it works with from outside.
#include <memory>

#include "common/clock.h"
#include "fs/directory_reader.h"
#include "fs/file_opener.h"
#include "hashing/hash_cache.h"
#include "index/index.h"
#include "system/system_info_provider.h"

namespace qm {

// The engine's ways to the machine, chosen once at start-up (tests pass their own).
struct Seams {
  const DirectoryReader* directories = &fast_directory_reader();
  const FileOpener* files = &system_file_opener();
  const Clock* clock = &system_clock();
  std::unique_ptr<SystemInfoProvider> (*system_provider)() = make_platform_system_info_provider;
};

// The index of the last scan and the hash cache (which guards itself with its
// own lock). Commands get it exclusively.
struct Engine {
  Engine() = default;
  explicit Engine(const Seams& chosen) : seams(chosen) {}

  Seams seams;
  Index index;
  HashCache hash_cache;
};

}  // namespace qm
