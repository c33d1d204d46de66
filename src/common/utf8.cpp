#include "common/utf8.h"

#include <cstdint>

namespace qm {
namespace {

// Length of the valid UTF-8 sequence starting at bytes[i], or 0 when invalid.
// When invalid, *maximal receives the length of the maximal subpart to replace.
std::size_t valid_sequence_length(std::string_view bytes, std::size_t i, std::size_t* maximal) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(bytes[k]); };
  const std::uint8_t lead = byte(i);
  const std::size_t left = bytes.size() - i;
  std::size_t need;
  std::uint8_t lo = 0x80, hi = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    *maximal = 1;
    return 0;
  }
  std::size_t k = 1;
  for (; k < need; ++k) {
    if (k >= left) break;
    const std::uint8_t b = byte(i + k);
    const std::uint8_t min = k == 1 ? lo : 0x80;
    const std::uint8_t max = k == 1 ? hi : 0xBF;
    if (b < min || b > max) break;
  }
  if (k == need) return need;
  *maximal = k;
  return 0;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    // Fast path over ASCII, eight bytes at a time.
    while (i + 8 <= n) {
      std::uint64_t word;
      __builtin_memcpy(&word, bytes.data() + i, 8);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    if (static_cast<std::uint8_t>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    std::size_t maximal = 0;
    const std::size_t len = valid_sequence_length(bytes, i, &maximal);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

void append_lossy_utf8(std::string& out, std::string_view bytes) {
  std::size_t i = 0;
  std::size_t run_start = 0;
  while (i < bytes.size()) {
    std::size_t maximal = 0;
    const std::size_t len = valid_sequence_length(bytes, i, &maximal);
    if (len) {
      i += len;
      continue;
    }
    out.append(bytes.data() + run_start, i - run_start);
    out.append("\xEF\xBF\xBD");
    i += maximal;
    run_start = i;
  }
  out.append(bytes.data() + run_start, bytes.size() - run_start);
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  append_lossy_utf8(out, bytes);
  return out;
}

}  // namespace qm
