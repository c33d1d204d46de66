#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "index/entry_lookup.h"
#include "index/index.h"

namespace qm {

// What "scan", "summary" and "forget" reply with.
struct ScanSummary {
  std::uint64_t elapsed_ms = 0;
  ScanCounts counts;
  std::uint64_t generation = 0;
  std::string mode;
  std::uint64_t retained = 0;  // entries in the table, removed ones included
  std::optional<Item> root;    // none before any scan
};

ScanSummary summarize(const Index& index);

}  // namespace qm
