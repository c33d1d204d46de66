#include "index/scan_summary.h"

namespace qm {

ScanSummary summarize(const Index& index) {
  ScanSummary summary;
  summary.elapsed_ms = index.elapsed_ms();
  summary.counts = index.counts();
  summary.generation = index.generation();
  summary.mode = index.mode();
  summary.retained = index.count();
  if (!index.empty()) {
    auto root = lookup_entry(index, 0);
    if (root) summary.root = std::move(root).value();
  }
  return summary;
}

}  // namespace qm
