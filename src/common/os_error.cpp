#include "common/os_error.h"

#include <cerrno>
#include <cstring>

namespace qm {

std::string os_error_text(int error_number) {
  char buffer[256];
  // GNU strerror_r may return a static string instead of filling the buffer.
  const char* message = strerror_r(error_number, buffer, sizeof buffer);
  std::string text = message ? message : "Unknown error";
  text += " (os error ";
  text += std::to_string(error_number);
  text += ')';
  return text;
}

std::string last_os_error_text() { return os_error_text(errno); }

}  // namespace qm
