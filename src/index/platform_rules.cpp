#include "index/platform_rules.h"

namespace qm {
namespace {

std::uint64_t fold_sign_widened_device(std::uint64_t device) {
  return (device >> 32) == 0xFFFFFFFFu ? (device & 0xFFFFFFFFu) : device;
}

std::uint64_t same_device(std::uint64_t device) { return device; }

}  // namespace

const PlatformRules& macos_rules() {
  static const PlatformRules rules{
      {"/Users"}, {"/Volumes", "/System/Volumes"}, {".DS_Store"}, fold_sign_widened_device};
  return rules;
}

const PlatformRules& linux_rules() {
  static const PlatformRules rules{{}, {}, {".DS_Store"}, same_device};
  return rules;
}

const PlatformRules& platform_rules() {
#if defined(__APPLE__)
  return macos_rules();
#else
  return linux_rules();
#endif
}

}  // namespace qm
