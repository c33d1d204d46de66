#pragma once
#include <charconv>
#include <concepts>
#include <mutex>
#include <string>
#include <string_view>

#include "protocol/json_value.h"

namespace qm {

// Appends the compact text of value to out (no spaces, no line breaks; members
// in key order, doubles in the wire layout, non-ASCII bytes written as they are).
void render_json(const JsonValue& value, std::string& out);
std::string to_json(const JsonValue& value);

// Appends text as a JSON string literal: quotes, backslash escapes for '"', '\\'
// and bytes 0x00-0x1F, every other byte unchanged.
void render_json_string(std::string_view text, std::string& out);

// Appends an integer in decimal, as JSON writes it.
template <std::integral Integer>
void render_integer(Integer value, std::string& out) {
  char buffer[24];
  const auto res = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, res.ptr);
}

// Appends a finite double in the wire layout: shortest round-trip digits, fixed
// notation for decimal exponents -5..15 ("0.00001", "1.0", "100.0"), scientific
// otherwise ("1e-6", "1e+16", "1.7976931348623157e+308"). No allocation.
void render_double(double value, std::string& out);

// The one reentrant lock around standard output.
std::recursive_mutex& output_lock();

// Writes value as one line on standard output, whole, under output_lock().
// Write failures (closed pipe, no stdout) are ignored; interrupted writes are retried.
void write_json_line(const JsonValue& value);

// Writes already rendered text (ending in its own line feed) the same way.
void write_line(std::string_view text);

}  // namespace qm
