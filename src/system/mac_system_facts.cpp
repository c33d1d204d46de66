#include "system/mac_system_facts.h"

#include "common/utf8.h"

namespace qm {
namespace {

std::optional<std::uint64_t> capacity(std::optional<std::int64_t> value) {
  if (!value || *value < 0) return std::nullopt;
  return static_cast<std::uint64_t>(*value);
}

}  // namespace

std::string_view sysctl_text(std::string_view reply) { return reply.substr(0, reply.find('\0')); }

std::optional<std::string> mac_os_long_version(std::string_view product_version, std::string_view build_version) {
  if (product_version.empty()) return std::nullopt;
  std::string text = "macOS ";
  text.append(product_version);
  if (!build_version.empty()) {
    text.append(" (");
    text.append(build_version);
    text.push_back(')');
  }
  return lossy_utf8(text);
}

VolumeProperties mac_volume_properties(const MacVolumeValues& values) {
  VolumeProperties properties;
  properties.name = values.name;
  properties.browsable = values.is_browsable;
  properties.local = values.is_local;
  properties.total_capacity = capacity(values.total_capacity);
  properties.important_available_capacity = capacity(values.available_capacity_for_important_usage);
  properties.available_capacity = capacity(values.available_capacity);
  return properties;
}

}  // namespace qm
