#include "protocol/json_writer.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "common/hex.h"

namespace qm {
namespace {

// For each byte: 0 when it is written as it is, otherwise the letter after the
// backslash ('u' for the \u00XX form).
constexpr auto kEscape = [] {
  struct Table {
    char code[256] = {};
  } t;
  for (int c = 0; c < 0x20; ++c) t.code[c] = 'u';
  t.code[0x08] = 'b';
  t.code[0x09] = 't';
  t.code[0x0A] = 'n';
  t.code[0x0C] = 'f';
  t.code[0x0D] = 'r';
  t.code[0x22] = '"';
  t.code[0x5C] = '\\';
  return t;
}();

void render_value(const JsonValue& value, JsonOut& out);

void render_array(const JsonArray& array, JsonOut& out) {
  out.push_back('[');
  bool first = true;
  for (const auto& element : array) {
    if (!first) out.push_back(',');
    first = false;
    render_value(element, out);
  }
  out.push_back(']');
}

void render_object(const JsonObject& object, JsonOut& out) {
  out.push_back('{');
  bool first = true;
  for (const auto& [key, member] : object) {
    if (!first) out.push_back(',');
    first = false;
    render_json_string(key, out);
    out.push_back(':');
    render_value(member, out);
  }
  out.push_back('}');
}

void render_number(const JsonNumber& number, JsonOut& out) {
  switch (number.kind()) {
    case JsonNumber::Kind::Unsigned: render_integer(number.as_unsigned(), out); return;
    case JsonNumber::Kind::Negative: render_integer(number.as_negative(), out); return;
    case JsonNumber::Kind::Double: render_double(number.as_double(), out); return;
  }
}

void render_value(const JsonValue& value, JsonOut& out) {
  switch (value.kind()) {
    case JsonValue::Kind::Null: out.append("null"); return;
    case JsonValue::Kind::Boolean: out.append(value.as_bool() ? "true" : "false"); return;
    case JsonValue::Kind::Number: render_number(value.as_number(), out); return;
    case JsonValue::Kind::String: render_json_string(value.as_string(), out); return;
    case JsonValue::Kind::Array: render_array(value.as_array(), out); return;
    case JsonValue::Kind::Object: render_object(value.as_object(), out); return;
    case JsonValue::Kind::Streamed: value.as_streamer().render(out); return;
  }
}

// Waits until fd accepts more bytes; false when it never will.
bool wait_writable(int fd) {
  for (;;) {
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, -1);
    if (ready > 0) return (pfd.revents & POLLOUT) != 0;
    if (ready < 0 && errno != EINTR) return false;
  }
}

void write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      // A non-blocking stdout that is full: wait instead of dropping the line.
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable(fd)) continue;
      return;  // closed pipe or no stdout: the line is lost, the engine goes on
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

}  // namespace

JsonOut::JsonOut(std::string& text) : text_(&text), used_(text.size()) {
  // Room for a small reply at once; a larger one doubles it as it goes.
  text.resize(used_ + 32);
  buffer_ = text.data();
  capacity_ = text.size();
}

JsonOut::~JsonOut() {
  // Shrinking never allocates.
  if (text_) text_->resize(used_);
}

void JsonOut::flush() {
  if (text_ || used_ == 0) return;
  write_all(fd_, buffer_, used_);
  used_ = 0;
}

void JsonOut::make_room(std::size_t size) {
  if (!text_) {
    flush();
    return;
  }
  // The string keeps the text written so far if growing it runs out of memory.
  text_->resize(std::max(capacity_ * 2, used_ + size));
  buffer_ = text_->data();
  capacity_ = text_->size();
}

void JsonOut::spill(const char* data, std::size_t size) {
  if (text_) {
    make_room(size);
    std::memcpy(buffer_ + used_, data, size);
    used_ += size;
    return;
  }
  // Fill the buffer up, hand it over, and pass long runs straight through.
  const std::size_t room = capacity_ - used_;
  std::memcpy(buffer_ + used_, data, room);
  used_ = capacity_;
  flush();
  data += room;
  size -= room;
  if (size >= capacity_) {
    write_all(fd_, data, size);
    return;
  }
  std::memcpy(buffer_, data, size);
  used_ = size;
}

void render_json_string_body(std::string_view text, JsonOut& out) {
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t run = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const char code = kEscape.code[static_cast<unsigned char>(data[i])];
    if (!code) continue;
    out.append(data + run, i - run);
    run = i + 1;
    if (code == 'u') {
      const auto byte = static_cast<unsigned char>(data[i]);
      const char escape[6] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
      out.append(escape, 6);
    } else {
      const char escape[2] = {'\\', code};
      out.append(escape, 2);
    }
  }
  out.append(data + run, size - run);
}

void render_json_string(std::string_view text, JsonOut& out) {
  out.push_back('"');
  render_json_string_body(text, out);
  out.push_back('"');
}

void render_json_string(std::string_view text, std::string& out) {
  JsonOut to(out);
  render_json_string(text, to);
}

void render_double(double value, JsonOut& out) {
  // Shortest round-trip digits in scientific form, e.g. "-1.2345e+02" or "5e-324".
  char sci[32];
  const auto res = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  const char* p = sci;
  if (*p == '-') {
    out.push_back('-');
    ++p;
  }
  char digits[20];
  int n = 0;
  const char* e = p;
  while (e < res.ptr && *e != 'e') {
    if (*e != '.') digits[n++] = *e;
    ++e;
  }
  int exponent = 0;
  std::from_chars(e + 1 + (e[1] == '+'), res.ptr, exponent);
  while (n > 1 && digits[n - 1] == '0') --n;
  if (n == 1 && digits[0] == '0') {
    out.append("0.0");
    return;
  }
  if (exponent >= -5 && exponent <= 15) {
    if (exponent < 0) {
      out.append("0.");
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out.append(digits, static_cast<std::size_t>(n));
    } else if (exponent >= n - 1) {
      out.append(digits, static_cast<std::size_t>(n));
      out.append(static_cast<std::size_t>(exponent - n + 1), '0');
      out.append(".0");
    } else {
      out.append(digits, static_cast<std::size_t>(exponent + 1));
      out.push_back('.');
      out.append(digits + exponent + 1, static_cast<std::size_t>(n - exponent - 1));
    }
    return;
  }
  out.push_back(digits[0]);
  if (n > 1) {
    out.push_back('.');
    out.append(digits + 1, static_cast<std::size_t>(n - 1));
  }
  out.push_back('e');
  out.push_back(exponent < 0 ? '-' : '+');
  render_integer(static_cast<std::uint64_t>(exponent < 0 ? -exponent : exponent), out);
}

void render_double(double value, std::string& out) {
  JsonOut to(out);
  render_double(value, to);
}

void render_json(const JsonValue& value, JsonOut& out) { render_value(value, out); }

void render_json(const JsonValue& value, std::string& out) {
  JsonOut to(out);
  render_value(value, to);
}

std::string to_json(const JsonValue& value) {
  std::string out;
  render_json(value, out);
  return out;
}

std::recursive_mutex& output_lock() {
  static std::recursive_mutex lock;
  return lock;
}

JsonOut& standard_output_locked() {
  // One buffer for the process, made before any request: writing a line never
  // allocates, so even the reply that says memory ran out can be written.
  static char buffer[std::size_t{1} << 16];
  static JsonOut out(STDOUT_FILENO, buffer, sizeof buffer);
  return out;
}

void write_line(std::string_view text) {
  std::lock_guard lock(output_lock());
  JsonOut& out = standard_output_locked();
  out.append(text);
  out.flush();
}

void write_json_line(const JsonValue& value) {
  write_rendered_line([&](JsonOut& out) { render_value(value, out); });
}

}  // namespace qm
