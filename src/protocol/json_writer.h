#pragma once
#include <mutex>
#include <string>

#include "protocol/json_value.h"

namespace qm {

// Appends the compact text of value to out (no spaces, no line breaks).
void render_json(const JsonValue& value, std::string& out);
std::string to_json(const JsonValue& value);

// Appends a double in the wire layout: shortest round-trip digits, fixed
// notation for decimal exponents -5..15, scientific otherwise ("1e+16", "1.0").
void render_double(double value, std::string& out);

// The one reentrant lock around standard output.
std::recursive_mutex& output_lock();

// Writes value as one line on standard output and flushes it, under output_lock().
// Write failures are ignored.
void write_json_line(const JsonValue& value);

}  // namespace qm
