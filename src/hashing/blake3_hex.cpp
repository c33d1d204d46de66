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

std::string digest_hex(const Digest& digest) {
  std::string text(2 * digest.bytes.size(), '0');
  for (std::size_t i = 0; i < digest.bytes.size(); ++i) {
    text[2 * i] = kHexDigits[digest.bytes[i] >> 4];
    text[2 * i + 1] = kHexDigits[digest.bytes[i] & 0x0F];
  }
  return text;
}

Digest finish_digest(const blake3_hasher& hasher) {
  Digest digest;
  blake3_hasher_finalize(&hasher, digest.bytes.data(), digest.bytes.size());
  return digest;
}

Digest blake3_digest(std::string_view bytes) {
  blake3_hasher hasher;
  init_hasher(hasher);
  blake3_hasher_update(&hasher, bytes.data(), bytes.size());
  return finish_digest(hasher);
}

std::string blake3_hex(std::string_view bytes) { return digest_hex(blake3_digest(bytes)); }

}  // namespace qm
