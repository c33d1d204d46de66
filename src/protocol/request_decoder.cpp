// Decodes one request line in a single pass straight from its text.
//
// Failure positions follow two rules: a failure found at a character that has
// not been consumed reports that character's position (fail_next); a failure
// found after consuming bytes reports the number of bytes consumed
// (fail_consumed). At the end of the text both give the length of the line.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <fast_float/fast_float.h>

#include "common/hex.h"
#include "protocol/json_writer.h"
#include "protocol/request.h"

namespace qm {
namespace {

constexpr int kMaxDepth = 127;  // the request object or array is level 1

// Bytes that end an unescaped run inside a string: '"', '\\' and 0x00-0x1F.
constexpr auto kStringStop = [] {
  struct Table {
    bool stop[256] = {};
  } t;
  for (int c = 0; c < 0x20; ++c) t.stop[c] = true;
  t.stop[0x22] = true;  // '"'
  t.stop[0x5C] = true;  // '\\'
  return t;
}();

bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::uint32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// A string as it appears in a type description: in double quotes, with
// backslash escapes for quotes, backslashes and control characters.
void append_quoted(std::string_view text, std::string& out) {
  out.push_back('"');
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out.append("\\\""); break;
      case '\\': out.append("\\\\"); break;
      case '\n': out.append("\\n"); break;
      case '\r': out.append("\\r"); break;
      case '\t': out.append("\\t"); break;
      case '\0': out.append("\\0"); break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out.append("\\u{");
          if (byte >= 0x10) out.push_back(kHexDigits[byte >> 4]);
          out.push_back(kHexDigits[byte & 0xF]);
          out.push_back('}');
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

// A number as read: its JSON kind decides how it is stored and described.
struct Number {
  JsonNumber::Kind kind = JsonNumber::Kind::Unsigned;
  std::uint64_t u = 0;
  std::int64_t i = 0;
  double d = 0;

  JsonNumber to_json() const {
    switch (kind) {
      case JsonNumber::Kind::Unsigned: return JsonNumber::from_unsigned(u);
      case JsonNumber::Kind::Negative: return JsonNumber::from_signed(i);
      case JsonNumber::Kind::Double: break;
    }
    return JsonNumber::from_double(d);
  }

  // "integer `5`", "integer `-5`", "floating point `1.0`"
  void describe(std::string& out) const {
    switch (kind) {
      case JsonNumber::Kind::Unsigned:
        out.append("integer `");
        render_integer(u, out);
        out.push_back('`');
        return;
      case JsonNumber::Kind::Negative:
        out.append("integer `");
        render_integer(i, out);
        out.push_back('`');
        return;
      case JsonNumber::Kind::Double:
        out.append("floating point `");
        render_double(d, out);
        out.push_back('`');
        return;
    }
  }
};

class Decoder {
 public:
  Decoder(std::string_view text, bool borrow) : text_(text), borrow_(borrow) {}

  DecodeResult decode() {
    Request request;
    try {
      if (!decode_request(request)) return std::move(error_);
    } catch (const std::bad_alloc&) {
      // What was built so far goes with request; the id is known once it was read.
      return DecodeOutOfMemory{id_read_ ? std::optional<std::uint64_t>(request.request) : std::nullopt};
    }
    return request;
  }

 private:
  // ---- positions and failures ----

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }

  void skip_whitespace() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return;
      ++pos_;
    }
  }

  bool fail_at(std::size_t position, std::string message) {
    // Lines hold no line feed; counted anyway so the position stays right for any text.
    std::size_t line_start = 0;
    std::uint64_t line = 1;
    for (std::size_t k = 0; k < position; ++k) {
      if (text_[k] == '\n') {
        ++line;
        line_start = k + 1;
      }
    }
    error_ = DecodeError{std::move(message), line, position - line_start};
    return false;
  }
  bool fail_consumed(std::string message) { return fail_at(pos_, std::move(message)); }
  bool fail_next(std::string message) {
    return fail_at(pos_ < text_.size() ? pos_ + 1 : text_.size(), std::move(message));
  }

  // ---- literals ----

  // After the first letter of null, true or false.
  bool expect_rest_of_literal(std::string_view rest) {
    for (const char expected : rest) {
      if (at_end()) return fail_consumed("EOF while parsing a value");
      if (text_[pos_++] != expected) return fail_consumed("expected ident");
    }
    return true;
  }

  // ---- numbers ----

  // Scans a number whose sign (if any) has been consumed. When skipping, the
  // value is not computed and a number cut off by the end of the text is an
  // invalid number rather than a missing value.
  bool scan_number(bool negative, bool skipping, Number* out) {
    const std::size_t start = pos_ - (negative ? 1 : 0);
    const char* eof_message = skipping ? "invalid number" : "EOF while parsing a value";
    if (at_end()) return fail_consumed(eof_message);
    std::uint64_t magnitude = 0;
    bool overflow = false;
    bool all_zero = true;  // every digit of the mantissa is 0
    const char first = text_[pos_++];
    if (first == '0') {
      if (!at_end() && is_digit(peek())) return fail_next("invalid number");
    } else if (first >= '1' && first <= '9') {
      all_zero = false;
      magnitude = static_cast<std::uint64_t>(first - '0');
      while (!at_end() && is_digit(peek())) {
        const auto digit = static_cast<std::uint64_t>(peek() - '0');
        if (!overflow && magnitude > (UINT64_MAX - digit) / 10) overflow = true;
        if (!overflow) magnitude = magnitude * 10 + digit;
        ++pos_;
      }
    } else {
      return fail_consumed("invalid number");
    }
    bool integral = true;
    if (!at_end() && peek() == '.') {
      integral = false;
      ++pos_;
      const std::size_t digits_start = pos_;
      while (!at_end() && is_digit(peek())) {
        if (peek() != '0') all_zero = false;
        ++pos_;
      }
      if (pos_ == digits_start) return fail_next(at_end() ? eof_message : "invalid number");
    }
    if (!at_end() && (peek() == 'e' || peek() == 'E')) {
      integral = false;
      ++pos_;
      bool negative_exponent = false;
      if (!at_end() && (peek() == '+' || peek() == '-')) negative_exponent = text_[pos_++] == '-';
      if (at_end()) return fail_consumed(eof_message);
      if (!is_digit(text_[pos_++])) return fail_consumed("invalid number");
      std::uint64_t exponent = static_cast<std::uint64_t>(text_[pos_ - 1] - '0');
      while (!at_end() && is_digit(peek())) {
        exponent = exponent * 10 + static_cast<std::uint64_t>(peek() - '0');
        ++pos_;
        // An exponent beyond 32 bits is infinite for any non-zero mantissa.
        if (exponent > INT32_MAX) {
          if (!skipping && !all_zero && !negative_exponent) return fail_consumed("number out of range");
          while (!at_end() && is_digit(peek())) ++pos_;
          break;
        }
      }
    }
    if (skipping) return true;
    if (integral && !overflow) {
      if (!negative || magnitude == 0) {
        out->kind = JsonNumber::Kind::Unsigned;
        out->u = magnitude;
        return true;
      }
      if (magnitude <= std::uint64_t{1} << 63) {
        out->kind = JsonNumber::Kind::Negative;
        out->i = static_cast<std::int64_t>(0 - magnitude);
        return true;
      }
    }
    out->kind = JsonNumber::Kind::Double;
    return to_double(start, negative, all_zero, out->d);
  }

  // The double nearest to text_[start, pos_); a magnitude beyond the largest
  // double is out of range, one below the smallest becomes zero.
  bool to_double(std::size_t start, bool negative, bool all_zero, double& out) {
    const char* first = text_.data() + start;
    const char* last = text_.data() + pos_;
    // fast_float: correctly rounded like std::from_chars, which libc++ lacks for doubles.
    const auto res = fast_float::from_chars(first, last, out);
    if (res.ec == std::errc() && res.ptr == last && std::isfinite(out)) return true;
    if (all_zero || !exceeds_one(first, last)) {
      out = negative ? -0.0 : 0.0;
      return true;
    }
    return fail_consumed("number out of range");
  }

  // Whether the magnitude of a valid JSON number that is either huge or tiny
  // is at least 1 (compares the decimal exponent of its first non-zero digit).
  static bool exceeds_one(const char* first, const char* last) {
    if (*first == '-') ++first;
    std::int64_t leading = 0;  // decimal exponent of the first non-zero digit, +1
    bool seen_nonzero = false;
    bool after_point = false;
    const char* p = first;
    for (; p < last && *p != 'e' && *p != 'E'; ++p) {
      if (*p == '.') {
        after_point = true;
      } else if (!seen_nonzero) {
        if (*p != '0') {
          seen_nonzero = true;
          if (!after_point) ++leading;
        } else if (after_point) {
          --leading;
        }
      } else if (!after_point) {
        ++leading;
      }
    }
    std::int64_t exponent = 0;
    if (p < last) {
      ++p;
      bool minus = false;
      if (*p == '+' || *p == '-') minus = *p++ == '-';
      for (; p < last; ++p) {
        if (exponent < (std::int64_t{1} << 40)) exponent = exponent * 10 + (*p - '0');
      }
      if (minus) exponent = -exponent;
    }
    return leading + exponent > 0;
  }

  // ---- strings ----

  // Reads a string whose opening quote has been consumed. The result views the
  // line itself when the string has no escapes, otherwise scratch_; it stays
  // valid until the next string is read.
  bool read_string(std::string_view& out) {
    std::size_t run_start = pos_;
    bool escaped = false;
    for (;;) {
      while (pos_ < text_.size() && !kStringStop.stop[static_cast<unsigned char>(text_[pos_])]) ++pos_;
      if (at_end()) return fail_consumed("EOF while parsing a string");
      const char c = text_[pos_];
      if (c == '"') {
        if (escaped) {
          scratch_.append(text_.data() + run_start, pos_ - run_start);
          out = scratch_;
        } else {
          out = text_.substr(run_start, pos_ - run_start);
        }
        ++pos_;
        return true;
      }
      if (c == '\\') {
        if (!escaped) scratch_.clear();
        escaped = true;
        scratch_.append(text_.data() + run_start, pos_ - run_start);
        ++pos_;
        if (!read_escape(scratch_)) return false;
        run_start = pos_;
        continue;
      }
      ++pos_;
      return fail_consumed("control character (\\u0000-\\u001F) found while parsing a string");
    }
  }

  // Skips a string whose opening quote has been consumed. Escapes must be well
  // formed; surrogate pairing is not checked, as nothing is kept.
  bool skip_string() {
    for (;;) {
      while (pos_ < text_.size() && !kStringStop.stop[static_cast<unsigned char>(text_[pos_])]) ++pos_;
      if (at_end()) return fail_consumed("EOF while parsing a string");
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (c != '\\') return fail_consumed("control character (\\u0000-\\u001F) found while parsing a string");
      if (at_end()) return fail_consumed("EOF while parsing a string");
      const char letter = text_[pos_++];
      switch (letter) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't': break;
        case 'u': {
          std::uint32_t unused;
          if (!read_hex4(unused)) return false;
          break;
        }
        default: return fail_consumed("invalid escape");
      }
    }
  }

  bool read_hex4(std::uint32_t& out) {
    out = 0;
    for (int k = 0; k < 4; ++k) {
      if (at_end()) return fail_consumed("EOF while parsing a string");
      const int digit = hex_value(text_[pos_++]);
      if (digit < 0) return fail_consumed("invalid escape");
      out = out * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  // After the backslash.
  bool read_escape(std::string& out) {
    if (at_end()) return fail_consumed("EOF while parsing a string");
    const char letter = text_[pos_++];
    switch (letter) {
      case '"': out.push_back('"'); return true;
      case '\\': out.push_back('\\'); return true;
      case '/': out.push_back('/'); return true;
      case 'b': out.push_back('\b'); return true;
      case 'f': out.push_back('\f'); return true;
      case 'n': out.push_back('\n'); return true;
      case 'r': out.push_back('\r'); return true;
      case 't': out.push_back('\t'); return true;
      case 'u': break;
      default: return fail_consumed("invalid escape");
    }
    std::uint32_t code;
    if (!read_hex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return fail_consumed("lone leading surrogate in hex escape");
    if (code < 0xD800 || code > 0xDBFF) {
      append_utf8(code, out);
      return true;
    }
    // A leading surrogate must be followed by the \u escape of a trailing one.
    if (at_end()) return fail_consumed("EOF while parsing a string");
    if (text_[pos_++] != '\\') return fail_consumed("unexpected end of hex escape");
    if (at_end()) return fail_consumed("EOF while parsing a string");
    if (text_[pos_++] != 'u') return fail_consumed("unexpected end of hex escape");
    std::uint32_t trailing;
    if (!read_hex4(trailing)) return false;
    if (trailing < 0xDC00 || trailing > 0xDFFF) return fail_consumed("lone leading surrogate in hex escape");
    append_utf8(0x10000 + ((code - 0xD800) << 10) + (trailing - 0xDC00), out);
    return true;
  }

  // ---- nesting ----

  bool enter_level() {
    if (depth_ == kMaxDepth) return fail_next("recursion limit exceeded");
    ++depth_;
    return true;
  }
  void leave_level() { --depth_; }

  // ---- values that are kept ----

  bool read_value(JsonValue& out) {
    skip_whitespace();
    if (at_end()) return fail_next("EOF while parsing a value");
    switch (peek()) {
      case 'n':
        ++pos_;
        if (!expect_rest_of_literal("ull")) return false;
        out = JsonValue();
        return true;
      case 't':
        ++pos_;
        if (!expect_rest_of_literal("rue")) return false;
        out = JsonValue(true);
        return true;
      case 'f':
        ++pos_;
        if (!expect_rest_of_literal("alse")) return false;
        out = JsonValue(false);
        return true;
      case '-':
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9': {
        const bool negative = peek() == '-';
        if (negative) ++pos_;
        Number number;
        if (!scan_number(negative, false, &number)) return false;
        out = JsonValue(number.to_json());
        return true;
      }
      case '"': {
        ++pos_;
        std::string_view text;
        if (!read_string(text)) return false;
        // Unescaped text is a view of the line itself; escaped text sits in scratch_.
        const bool in_line = text.data() >= text_.data() && text.data() <= text_.data() + text_.size();
        out = borrow_ && in_line ? JsonValue::borrowed_string(text) : JsonValue(text);
        return true;
      }
      case '[': {
        if (!enter_level()) return false;
        ++pos_;
        JsonArray elements;
        if (!read_array_elements(elements)) return false;
        leave_level();
        out = JsonValue(std::move(elements));
        return true;
      }
      case '{': {
        if (!enter_level()) return false;
        ++pos_;
        std::vector<JsonObject::Member> members;
        if (!read_object_members(members)) return false;
        leave_level();
        out = JsonValue(JsonObject::from_members(std::move(members)));
        return true;
      }
      default: return fail_next("expected value");
    }
  }

  // Moves to the next item of an array or object whose opening bracket has been
  // consumed: past the separating comma, or to the closing bracket (not
  // consumed), where *done is set.
  bool next_item(char closer, const char* eof_message, const char* separator_message, bool& first, bool& done) {
    skip_whitespace();
    if (at_end()) return fail_next(eof_message);
    if (peek() == closer) {
      done = true;
      return true;
    }
    if (!first) {
      if (peek() != ',') return fail_next(separator_message);
      ++pos_;
      skip_whitespace();
      if (at_end()) return fail_next("EOF while parsing a value");
      if (peek() == closer) return fail_next("trailing comma");
    }
    first = false;
    done = false;
    return true;
  }

  // Moves to the next element of an array whose '[' has been consumed.
  // Returns false on failure; *done is set at the closing bracket (consumed).
  bool next_element(bool& first, bool& done) {
    if (!next_item(']', "EOF while parsing a list", "expected `,` or `]`", first, done)) return false;
    if (done) ++pos_;
    return true;
  }

  bool read_array_elements(JsonArray& out) {
    bool first = true;
    for (;;) {
      bool done = false;
      if (!next_element(first, done)) return false;
      if (done) return true;
      out.emplace_back();
      if (!read_value(out.back())) return false;
    }
  }

  // Moves to the next key of an object whose '{' has been consumed and reads
  // the key and its colon. *done is set at the closing brace (not consumed).
  bool next_key(bool& first, bool& done, std::string_view& key) {
    if (!next_item('}', "EOF while parsing an object", "expected `,` or `}`", first, done)) return false;
    if (done) return true;
    if (peek() != '"') return fail_next("key must be a string");
    ++pos_;
    return read_string(key);
  }

  bool expect_colon() {
    skip_whitespace();
    if (at_end()) return fail_next("EOF while parsing an object");
    if (peek() != ':') return fail_next("expected `:`");
    ++pos_;
    return true;
  }

  bool read_object_members(std::vector<JsonObject::Member>& out) {
    bool first = true;
    for (;;) {
      bool done = false;
      std::string_view key;
      if (!next_key(first, done, key)) return false;
      if (done) {
        ++pos_;
        return true;
      }
      out.emplace_back(std::string(key), JsonValue());
      if (!expect_colon() || !read_value(out.back().second)) return false;
    }
  }

  // ---- values that are skipped ----

  // Checks one value without keeping it. Nesting is tracked on a byte stack, not
  // on the call stack, so there is no depth limit here.
  bool skip_value() {
    skip_stack_.clear();
    for (;;) {
      skip_whitespace();
      if (at_end()) return fail_next("EOF while parsing a value");
      char frame = 0;  // '[' or '{' when a container was opened
      switch (peek()) {
        case 'n': ++pos_; if (!expect_rest_of_literal("ull")) return false; break;
        case 't': ++pos_; if (!expect_rest_of_literal("rue")) return false; break;
        case 'f': ++pos_; if (!expect_rest_of_literal("alse")) return false; break;
        case '-':
          ++pos_;
          if (!scan_number(true, true, nullptr)) return false;
          break;
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9':
          if (!scan_number(false, true, nullptr)) return false;
          break;
        case '"': ++pos_; if (!skip_string()) return false; break;
        case '[': case '{': frame = text_[pos_++]; break;
        default: return fail_next("expected value");
      }
      // After a value, or just inside a new container: find where the next value starts.
      bool accept_comma = frame == 0;
      if (frame == 0) {
        if (skip_stack_.empty()) return true;
        frame = skip_stack_.back();
        skip_stack_.pop_back();
      }
      for (;;) {
        skip_whitespace();
        if (at_end()) return fail_next(frame == '[' ? "EOF while parsing a list" : "EOF while parsing an object");
        const char c = peek();
        if (c == ',' && accept_comma) {
          ++pos_;
          break;
        }
        if ((c == ']' && frame == '[') || (c == '}' && frame == '{')) {
          ++pos_;
          if (skip_stack_.empty()) return true;
          frame = skip_stack_.back();
          skip_stack_.pop_back();
          accept_comma = true;
          continue;
        }
        if (accept_comma) return fail_next(frame == '[' ? "expected `,` or `]`" : "expected `,` or `}`");
        break;
      }
      if (frame == '{') {
        skip_whitespace();
        if (at_end()) return fail_next("EOF while parsing an object");
        if (peek() != '"') return fail_next("key must be a string");
        ++pos_;
        if (!skip_string() || !expect_colon()) return false;
      }
      skip_stack_.push_back(frame);
    }
  }

  // ---- the request ----

  // Reads the value at the current position only to describe it in an
  // invalid-type failure ("invalid type: map, expected u64").
  bool fail_invalid_type(const char* expected) {
    std::string message = "invalid type: ";
    switch (at_end() ? '\0' : peek()) {
      case 'n':
        ++pos_;
        if (!expect_rest_of_literal("ull")) return false;
        message += "null";
        break;
      case 't':
        ++pos_;
        if (!expect_rest_of_literal("rue")) return false;
        message += "boolean `true`";
        break;
      case 'f':
        ++pos_;
        if (!expect_rest_of_literal("alse")) return false;
        message += "boolean `false`";
        break;
      case '-':
      case '0': case '1': case '2': case '3': case '4':
      case '5': case '6': case '7': case '8': case '9': {
        const bool negative = peek() == '-';
        if (negative) ++pos_;
        Number number;
        if (!scan_number(negative, false, &number)) return false;
        number.describe(message);
        break;
      }
      case '"': {
        ++pos_;
        std::string_view text;
        if (!read_string(text)) return false;
        message += "string ";
        append_quoted(text, message);
        break;
      }
      case '[': message += "sequence"; break;
      case '{': message += "map"; break;
      default: return fail_next("expected value");
    }
    message += ", expected ";
    message += expected;
    return fail_consumed(std::move(message));
  }

  bool read_request_id(std::uint64_t& out) {
    skip_whitespace();
    if (at_end()) return fail_next("EOF while parsing a value");
    const char c = peek();
    if (c != '-' && !is_digit(c)) return fail_invalid_type("u64");
    const bool negative = c == '-';
    if (negative) ++pos_;
    Number number;
    if (!scan_number(negative, false, &number)) return false;
    switch (number.kind) {
      case JsonNumber::Kind::Unsigned: out = number.u; return true;
      case JsonNumber::Kind::Negative: {
        std::string message = "invalid value: ";
        number.describe(message);
        return fail_consumed(message + ", expected u64");
      }
      case JsonNumber::Kind::Double: {
        std::string message = "invalid type: ";
        number.describe(message);
        return fail_consumed(message + ", expected u64");
      }
    }
    return true;
  }

  bool read_command(std::string& out) {
    skip_whitespace();
    if (at_end()) return fail_next("EOF while parsing a value");
    if (peek() != '"') return fail_invalid_type("a string");
    ++pos_;
    std::string_view text;
    if (!read_string(text)) return false;
    out.assign(text);
    return true;
  }

  // A failure raised by the request's own rules (missing or duplicate member,
  // bad length) is placed after the closing bracket when that comes next.
  bool fail_after_close(char close, std::string message) {
    skip_whitespace();
    if (!at_end() && peek() == close) ++pos_;
    return fail_consumed(std::move(message));
  }

  bool read_request_object(Request& request) {
    bool seen_request = false, seen_command = false, seen_args = false;
    bool first = true;
    for (;;) {
      bool done = false;
      std::string_view key;
      if (!next_key(first, done, key)) return false;
      if (done) break;
      if (key == "request") {
        if (seen_request) return fail_after_close('}', "duplicate field `request`");
        seen_request = true;
        if (!expect_colon() || !read_request_id(request.request)) return false;
        id_read_ = true;
      } else if (key == "command") {
        if (seen_command) return fail_after_close('}', "duplicate field `command`");
        seen_command = true;
        if (!expect_colon() || !read_command(request.command)) return false;
      } else if (key == "args") {
        if (seen_args) return fail_after_close('}', "duplicate field `args`");
        seen_args = true;
        if (!expect_colon() || !read_value(request.args)) return false;
      } else {
        if (!expect_colon() || !skip_value()) return false;
      }
    }
    if (!seen_request) return fail_after_close('}', "missing field `request`");
    if (!seen_command) return fail_after_close('}', "missing field `command`");
    ++pos_;  // the closing brace
    return true;
  }

  bool read_request_array(Request& request) {
    bool first = true;
    bool done = false;
    if (!next_element(first, done)) return false;
    if (done) return fail_consumed("invalid length 0, expected struct Request with 3 elements");
    if (!read_request_id(request.request)) return false;
    id_read_ = true;
    if (!next_element(first, done)) return false;
    if (done) return fail_consumed("invalid length 1, expected struct Request with 3 elements");
    if (!read_command(request.command)) return false;
    if (!next_element(first, done)) return false;
    if (done) return true;  // two elements: no args
    if (!read_value(request.args)) return false;
    // Exactly three elements.
    skip_whitespace();
    if (at_end()) return fail_next("EOF while parsing a list");
    if (peek() == ']') {
      ++pos_;
      return true;
    }
    if (peek() == ',') {
      ++pos_;
      skip_whitespace();
      if (!at_end() && peek() == ']') return fail_next("trailing comma");
    }
    return fail_next("trailing characters");
  }

  bool decode_request(Request& request) {
    skip_whitespace();
    if (at_end()) return fail_next("EOF while parsing a value");
    const char c = peek();
    if (c != '{' && c != '[') return fail_invalid_type("struct Request");
    if (!enter_level()) return false;
    ++pos_;
    if (!(c == '{' ? read_request_object(request) : read_request_array(request))) return false;
    leave_level();
    skip_whitespace();
    if (!at_end()) return fail_next("trailing characters");
    return true;
  }

  std::string_view text_;
  bool borrow_ = false;   // strings of args may refer to text_
  bool id_read_ = false;  // the request id has been read
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::string scratch_;      // unescaped text of the current string
  std::string skip_stack_;   // open containers of a skipped value
  DecodeError error_;
};

}  // namespace

DecodeResult decode_request(std::string_view line) { return Decoder(line, false).decode(); }

DecodeResult decode_request_in_place(std::string_view line) { return Decoder(line, true).decode(); }

}  // namespace qm
