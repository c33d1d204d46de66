#pragma once
#include <string>
#include <string_view>

namespace qm {

// True when bytes are valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// The bytes as text: each invalid sequence (maximal subpart) becomes U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// Appends lossy_utf8(bytes) to out without a temporary.
void append_lossy_utf8(std::string& out, std::string_view bytes);

}  // namespace qm
