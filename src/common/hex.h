#pragma once

namespace qm {

// Lowercase hexadecimal digits by value: JSON's \u00XX escapes, decode
// messages and digests all print nibbles with this one table.
inline constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace qm
