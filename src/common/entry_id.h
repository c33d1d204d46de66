#pragma once
#include <cstdint>

namespace qm {

// Position of an entry in the index table; entry 0 is the scan root.
using EntryId = std::uint32_t;
inline constexpr EntryId kNoEntry = 0xFFFFFFFFu;

}  // namespace qm
