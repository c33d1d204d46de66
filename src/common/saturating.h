#pragma once
#include <cstdint>

namespace qm {

// Size totals stop at 2^64 - 1 going up and at 0 going down.
inline std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = a + b;
  return sum < a ? UINT64_MAX : sum;
}

inline std::uint64_t saturating_sub(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

}  // namespace qm
