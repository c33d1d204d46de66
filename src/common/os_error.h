#pragma once
#include <string>

namespace qm {

// "<platform message> (os error N)", the one form every OS failure takes on the wire.
std::string os_error_text(int error_number);

// os_error_text(errno), read at the moment of the call.
std::string last_os_error_text();

inline constexpr const char* kNulByteError = "file name contained an unexpected NUL byte";

}  // namespace qm
