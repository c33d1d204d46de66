#pragma once
// A BLAKE3 digest as its 32 bytes. Grouping, sorting and the hash cache work on
// these; hex text is made only where a reply shows one.
#include <array>
#include <compare>
#include <cstdint>

namespace qm {

struct Digest {
  std::array<std::uint8_t, 32> bytes{};

  auto operator<=>(const Digest&) const = default;
};

}  // namespace qm
