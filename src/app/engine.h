#pragma once
#include "hashing/hash_cache.h"
#include "index/index.h"

namespace qm {

// The one state object of the process: the index of the last scan and the hash
// cache (which guards itself with its own lock). Commands get it exclusively.
struct Engine {
  Index index;
  HashCache hash_cache;
};

}  // namespace qm
