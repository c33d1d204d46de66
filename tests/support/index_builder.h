#pragma once
#include <string>

#include "index/index.h"

namespace qm::test {

// Fills index with every regular file and directory below root (breadth-first,
// listing order, nothing filtered, hard links not special-cased), then computes
// subtree totals. A stand-in for a scan in tests of code that only reads an index.
void build_index_from_disk(Index& index, const std::string& root);

}  // namespace qm::test
