#pragma once
// The reference listing the tests check the engine's readers against: the
// plainest reading there is (the directory stream, then one stat_entry of
// each joined path; a link given as the directory is not followed), with
// every entry's name and path spelled out.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fs/entry_metadata.h"

namespace qm::test {

struct ReferenceEntry {
  std::string name;  // as text (U+FFFD for bytes that are not UTF-8)
  std::string path;  // the directory path joined with the name, as text
  EntryMetadata metadata;
};

// The admitted entries of one directory, in stream order, plus what failed or was left out.
struct ReferenceListing {
  std::vector<ReferenceEntry> entries;
  std::uint64_t errors = 0;   // 1 when the directory cannot be opened or a read failed
  std::uint64_t skipped = 0;  // links, placeholders, special files, failed stats
};

ReferenceListing list_reference(std::string_view path);

}  // namespace qm::test
