// Any bytes as one getattrlistbulk reply: the first four bytes are the record
// count the kernel would return, the rest the reply buffer (zero-filled to its
// full size). The all-or-nothing check and the part decoder must agree: a reply
// the check accepts decodes without an error, record for record; a part never
// counts more records than it was given, and every admitted name is one a
// directory can hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/utf8.h"
#include "fs/bulk_reply_parser.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t count = 0;
  std::memcpy(&count, data, 4);
  static unsigned char reply[qm::kBulkReplySize];
  std::memset(reply, 0, sizeof reply);
  const std::size_t body = size - 4 < sizeof reply ? size - 4 : sizeof reply;
  std::memcpy(reply, data + 4, body);

  const qm::Result<std::uint64_t> checked = qm::check_bulk_reply(reply, count);
  qm::CompactListing part;
  qm::decode_bulk_part(reply, count, part);

  require(part.errors <= 1);
  require(part.entries.size() + part.skipped <= count);
  if (part.errors == 0) require(part.entries.size() + part.skipped == count);
  if (checked.ok()) {
    require(part.errors == 0);
    require(part.skipped == *checked);
  }
  for (std::size_t i = 0; i < part.entries.size(); ++i) {
    const std::string_view text = part.name(part.entries[i]);
    const std::string_view name = part.os_name(i);
    require(qm::is_valid_utf8(text));
    require(!name.empty() && name != "." && name != "..");
    require(name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos);
    const qm::EntryMetadata& record = part.entries[i].metadata;
    if (record.directory) require(record.size == 0 && record.allocated == 0);
  }
  return 0;
}
