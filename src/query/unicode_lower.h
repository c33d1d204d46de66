#pragma once
#include <unicode/umachine.h>

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The Unicode default lowercase mapping (full mapping, root locale) of UTF-8 text.
// Invalid UTF-8 sequences become U+FFFD first.
std::string unicode_lower(std::string_view text);

// Lowercases many texts without allocating once its buffers have grown. ASCII text
// (the common case for file names) never reaches ICU: for it the full mapping is
// exactly A-Z -> a-z.
class Lowercaser {
 public:
  // The lowered text; valid until the next call.
  std::string_view lower(std::string_view text);

 private:
  // Lowers A-Z into out_; false when the text holds a byte that is not ASCII.
  bool ascii_lower(std::string_view text);
  std::string_view lower_with_icu(std::string_view text);

  std::string out_;
  // UChar, not char16_t: some ICU builds (the one macOS ships) make it uint16_t.
  std::vector<UChar> utf16_;
  std::vector<UChar> lowered_;
};

}  // namespace qm
