#pragma once
#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "protocol/json_value.h"

namespace qm {

// Where rendered text goes: appended to a string, or streamed to a file
// descriptor through a fixed buffer, so that a reply of any size is written
// without a copy of it held anywhere and without allocating. Write failures on
// the descriptor (a closed pipe, no such descriptor) are ignored: the text is
// lost and rendering goes on.
//
// Both write into a buffer with one bounds check per write: for a string the
// buffer is the string's own storage, grown (doubling) as it fills, and the
// string is cut to the text written when the JsonOut goes; until then it must
// not be read.
class JsonOut {
 public:
  explicit JsonOut(std::string& text);
  // buffer (capacity bytes, at least 1) is used until the next flush.
  JsonOut(int fd, char* buffer, std::size_t capacity) : fd_(fd), buffer_(buffer), capacity_(capacity) {}
  ~JsonOut();
  JsonOut(const JsonOut&) = delete;
  JsonOut& operator=(const JsonOut&) = delete;

  void append(const char* data, std::size_t size) {
    if (size <= capacity_ - used_) {
      // An empty view may have no data at all, which memcpy must not be given.
      if (size != 0) std::memcpy(buffer_ + used_, data, size);
      used_ += size;
    } else {
      spill(data, size);
    }
  }
  void append(std::string_view text) { append(text.data(), text.size()); }
  void append(std::size_t count, char c) {
    for (; count > 0; --count) push_back(c);
  }
  void push_back(char c) {
    if (used_ == capacity_) make_room(1);
    buffer_[used_++] = c;
  }
  // Hands the buffered bytes to the descriptor (nothing to do for a string).
  void flush();

 private:
  void spill(const char* data, std::size_t size);
  // At least size bytes free after used_: a string grows, a descriptor is flushed.
  void make_room(std::size_t size);

  std::string* text_ = nullptr;
  int fd_ = -1;
  char* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};

// Appends the compact text of value to out (no spaces, no line breaks; members
// in key order, doubles in the wire layout, non-ASCII bytes written as they are).
void render_json(const JsonValue& value, JsonOut& out);
void render_json(const JsonValue& value, std::string& out);
std::string to_json(const JsonValue& value);

// Appends text as a JSON string literal: quotes, backslash escapes for '"', '\\'
// and bytes 0x00-0x1F, every other byte unchanged.
void render_json_string(std::string_view text, JsonOut& out);
void render_json_string(std::string_view text, std::string& out);
// The same without the quotes, for a literal written in pieces.
void render_json_string_body(std::string_view text, JsonOut& out);

// Appends an integer in decimal, as JSON writes it.
template <std::integral Integer, class Out>
void render_integer(Integer value, Out& out) {
  char buffer[24];
  const auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, static_cast<std::size_t>(res.ptr - buffer));
}

// Appends a finite double in the wire layout: shortest round-trip digits, fixed
// notation for decimal exponents -5..15 ("0.00001", "1.0", "100.0"), scientific
// otherwise ("1e-6", "1e+16", "1.7976931348623157e+308"). No allocation.
void render_double(double value, JsonOut& out);
void render_double(double value, std::string& out);

// The one reentrant lock around standard output.
std::recursive_mutex& output_lock();

// The stream to standard output; only to be used while holding output_lock().
JsonOut& standard_output_locked();

// Writes one line on standard output, whole, under output_lock(): render(out)
// writes the text into the process's one output buffer, then the line feed is
// added and everything flushed. Nothing is allocated; write failures are ignored.
template <class Render>
void write_rendered_line(Render&& render) {
  std::lock_guard lock(output_lock());
  JsonOut& out = standard_output_locked();
  render(out);
  out.push_back('\n');
  out.flush();
}

// Writes value as one line on standard output, whole, under output_lock().
// Write failures (closed pipe, no stdout) are ignored; interrupted writes are retried.
void write_json_line(const JsonValue& value);

// Writes already rendered text (ending in its own line feed) the same way.
void write_line(std::string_view text);

}  // namespace qm
