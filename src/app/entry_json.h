#pragma once
// The JSON forms of items and of the scan summary.
#include <string>
#include <vector>

#include "fs/entry_metadata.h"
#include "index/entry_lookup.h"
#include "index/scan_summary.h"
#include "protocol/json_value.h"

namespace qm {

// "<device>:<inode>", both unsigned decimal.
std::string identity_text(FileId file);

// The ten-member form of an item ("parent" null for the root).
JsonValue entry_object(const Item& item);
JsonValue entry_objects(const std::vector<Item>& items);

// The nine-member summary of "scan", "summary" and "forget".
JsonValue summary_json(const ScanSummary& summary);

}  // namespace qm
