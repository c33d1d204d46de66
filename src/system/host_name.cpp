#include "system/host_name.h"

#include "common/utf8.h"

namespace qm {

std::optional<std::string> host_name_text(std::string_view reply) {
  const std::string_view name = reply.substr(0, reply.find('\0'));
  if (name.empty() || !is_valid_utf8(name)) return std::nullopt;
  return std::string(name);
}

}  // namespace qm
