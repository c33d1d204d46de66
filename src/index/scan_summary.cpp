#include "index/scan_summary.h"

#include "query/entry_lookup.h"

namespace qm {

JsonValue scan_summary(const Index& index) {
  JsonValue root;
  if (!index.empty()) {
    auto found = lookup_entry(index, 0);
    if (found) root = entry_object(*found);
  }
  JsonObject summary;
  summary.insert("elapsedMs", index.elapsed_ms);
  summary.insert("entries", index.seen);
  summary.insert("errors", index.errors);
  summary.insert("generation", index.generation);
  summary.insert("limited", false);
  summary.insert("mode", index.mode);
  summary.insert("retained", std::uint64_t{index.count()});
  summary.insert("root", std::move(root));
  summary.insert("skipped", index.skipped);
  return summary;
}

}  // namespace qm
