#include "common/os_error.h"

#include <cerrno>
#include <cstring>

namespace qm {
namespace {

// strerror_r comes in two forms: GNU's returns the message (which may be a
// static string instead of the buffer), the XSI one (macOS) returns 0 or an
// error number and fills the buffer. Overloading on the result type takes
// whichever the C library declares.
[[maybe_unused]] const char* message_of(const char* result, const char*) { return result; }
[[maybe_unused]] const char* message_of(int result, const char* buffer) {
  // macOS still writes "Unknown error: N" for a number it does not know (EINVAL).
  return result == 0 || buffer[0] != '\0' ? buffer : nullptr;
}

}  // namespace

std::string os_error_text(int error_number) {
  char buffer[256];
  buffer[0] = '\0';
  const char* message = message_of(strerror_r(error_number, buffer, sizeof buffer), buffer);
  std::string text = message ? message : "Unknown error";
  text += " (os error ";
  text += std::to_string(error_number);
  text += ')';
  return text;
}

std::string last_os_error_text() { return os_error_text(errno); }

}  // namespace qm
