#include "hashing/blake3_hex.h"

#include "common/hex.h"

namespace qm {

void init_hasher(blake3_hasher& hasher) {
  // A static local runs once, and every later caller sees its effects.
  static const bool features_detected = [] {
    blake3_hasher probe;
    blake3_hasher_init(&probe);
    std::uint8_t digest[BLAKE3_OUT_LEN];
    blake3_hasher_finalize(&probe, digest, BLAKE3_OUT_LEN);  // compresses once: detection runs here
    return true;
  }();
  (void)features_detected;
  blake3_hasher_init(&hasher);
}

std::string digest_hex(const std::uint8_t (&digest)[BLAKE3_OUT_LEN]) {
  std::string text(2 * BLAKE3_OUT_LEN, '0');
  for (std::size_t i = 0; i < BLAKE3_OUT_LEN; ++i) {
    text[2 * i] = kHexDigits[digest[i] >> 4];
    text[2 * i + 1] = kHexDigits[digest[i] & 0x0F];
  }
  return text;
}

std::string finish_hex(const blake3_hasher& hasher) {
  std::uint8_t digest[BLAKE3_OUT_LEN];
  blake3_hasher_finalize(&hasher, digest, BLAKE3_OUT_LEN);
  return digest_hex(digest);
}

std::string blake3_hex(std::string_view bytes) {
  blake3_hasher hasher;
  init_hasher(hasher);
  blake3_hasher_update(&hasher, bytes.data(), bytes.size());
  return finish_hex(hasher);
}

}  // namespace qm
