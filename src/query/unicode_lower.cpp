#include "query/unicode_lower.h"

#include <unicode/ustring.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qm {
namespace {

constexpr UChar32 kReplacementCharacter = 0xFFFD;
constexpr std::size_t kMaxIcuLength = std::numeric_limits<std::int32_t>::max() / 4;

// Runs an ICU conversion into buffer (whose size is the capacity offered), growing
// it once when ICU reports the length it needs. Returns the produced length, or
// -1 when ICU fails for any other reason.
template <class Buffer, class Convert>
std::int32_t convert_growing(Buffer& buffer, Convert&& convert) {
  if (buffer.size() < 64) buffer.resize(64);
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const auto capacity = static_cast<std::int32_t>(std::min(buffer.size(), kMaxIcuLength));
    const std::int32_t length = convert(buffer.data(), capacity, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && static_cast<std::size_t>(length) <= kMaxIcuLength) {
      buffer.resize(static_cast<std::size_t>(length));
      continue;
    }
    if (U_FAILURE(status)) return -1;
    return length;
  }
  return -1;
}

}  // namespace

std::string unicode_lower(std::string_view text) {
  Lowercaser lowercaser;
  return std::string(lowercaser.lower(text));
}

std::string_view Lowercaser::lower(std::string_view text) {
  if (ascii_lower(text)) return out_;
  return lower_with_icu(text);
}

bool Lowercaser::ascii_lower(std::string_view text) {
  // One pass lowers ASCII letters and notices any byte that is not ASCII.
  out_.resize(text.size());
  unsigned char seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    seen |= c;
    out_[i] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
  }
  return seen < 0x80;
}

std::string_view Lowercaser::lower_with_icu(std::string_view text) {
  // Far beyond any name or search text; keep the ASCII lowering rather than fail.
  if (text.size() > kMaxIcuLength) return out_;
  // ICU only fails when memory runs out; the ASCII lowering is then the best left.
  const auto fall_back = [&] {
    ascii_lower(text);
    return std::string_view(out_);
  };
  const auto text_length = static_cast<std::int32_t>(text.size());

  const std::int32_t utf16_length = convert_growing(utf16_, [&](UChar* dest, std::int32_t capacity, UErrorCode* status) {
    std::int32_t length = 0;
    u_strFromUTF8WithSub(dest, capacity, &length, text.data(), text_length, kReplacementCharacter, nullptr, status);
    return length;
  });
  if (utf16_length < 0) return fall_back();

  // "" is the root locale: the language-neutral default mapping.
  const std::int32_t lowered_length = convert_growing(lowered_, [&](UChar* dest, std::int32_t capacity, UErrorCode* status) {
    return u_strToLower(dest, capacity, utf16_.data(), utf16_length, "", status);
  });
  if (lowered_length < 0) return fall_back();

  const std::int32_t utf8_length = convert_growing(out_, [&](char* dest, std::int32_t capacity, UErrorCode* status) {
    std::int32_t length = 0;
    u_strToUTF8WithSub(dest, capacity, &length, lowered_.data(), lowered_length, kReplacementCharacter, nullptr,
                       status);
    return length;
  });
  if (utf8_length < 0) return fall_back();
  return std::string_view(out_.data(), static_cast<std::size_t>(utf8_length));
}

}  // namespace qm
