#pragma once
// The JSON forms of items and of the scan summary.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/entry_metadata.h"
#include "index/entry_lookup.h"
#include "index/scan_summary.h"
#include "protocol/json_value.h"
#include "protocol/json_writer.h"

namespace qm {

// "<device>:<inode>", both unsigned decimal, held without allocating.
class IdentityText {
 public:
  explicit IdentityText(FileId file);
  std::string_view view() const { return std::string_view(text_, length_); }

 private:
  char text_[48];  // two 20-digit numbers and a colon
  std::size_t length_ = 0;
};

inline std::string identity_text(FileId file) { return std::string(IdentityText(file).view()); }

// The ten-member form of an item ("parent" null for the root), as a value.
JsonValue entry_object(const Item& item);
JsonValue entry_objects(const std::vector<Item>& items);

// The same text written straight into out, without allocating (for replies
// streamed from a result of any size).
void render_entry_object(const Item& item, JsonOut& out);

// The nine-member summary of "scan", "summary" and "forget".
JsonValue summary_json(const ScanSummary& summary);

}  // namespace qm
