#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The host name from the kernel's reply (uname's nodename, sysctl's
// kern.hostname): the bytes before the first NUL, when they are non-empty
// UTF-8; else nullopt.
std::optional<std::string> host_name_text(std::string_view reply);

}  // namespace qm
