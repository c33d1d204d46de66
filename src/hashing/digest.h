#pragma once
// A BLAKE3 digest as its 32 bytes. Grouping, sorting and the hash cache work on
// these; hex text is made only where a reply shows one.
#include <array>
#include <cstdint>
#include <cstring>

namespace qm {

struct Digest {
  std::array<std::uint8_t, 32> bytes{};

  friend bool operator==(const Digest& a, const Digest& b) { return a.bytes == b.bytes; }
  // Byte order, as of the hex text. Written out: not every standard library
  // this builds with compares std::array three ways.
  friend bool operator<(const Digest& a, const Digest& b) {
    return std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size()) < 0;
  }
};

}  // namespace qm
