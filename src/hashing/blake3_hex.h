#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "blake3.h"
#include "hashing/digest.h"

namespace qm {

static_assert(BLAKE3_OUT_LEN == sizeof(Digest::bytes));

// blake3_hasher_init, after making sure the library's one-time CPU feature
// detection has run. The library caches that detection in a plain global that
// every hashing call reads, so the first detection must not happen on several
// pool workers at once; use this instead of blake3_hasher_init.
void init_hasher(blake3_hasher& hasher);

// The 32-byte digest as 64 lowercase hexadecimal digits, high nibble of each byte first.
std::string digest_hex(const Digest& digest);

// Finalizes hasher to the default 32-byte output.
Digest finish_digest(const blake3_hasher& hasher);

// BLAKE3 of bytes already in memory.
Digest blake3_digest(std::string_view bytes);
// The same in hex.
std::string blake3_hex(std::string_view bytes);

}  // namespace qm
