#pragma once
// What a scan does differently per platform, in one place per platform. The
// rules are plain data, so every platform's rules can be tested anywhere.
#include <cstdint>
#include <string_view>
#include <vector>

namespace qm {

struct PlatformRules {
  // In a scan of "/": the paths whose file systems the walk enters besides the root's.
  std::vector<std::string_view> root_extra_devices;
  // In a scan of "/": absolute paths of directories left out (counted as skipped).
  std::vector<std::string_view> root_skipped_directories;
  // Files that never keep an entry in mode "duplicates" (folded into their directory).
  std::vector<std::string_view> not_duplicate_names;
  // The one device number for every form in which the platform reports a device.
  std::uint64_t (*device_key)(std::uint64_t device) = nullptr;
};

// macOS: the data volume ("/Users" on its own file system) is part of "/",
// while "/Volumes" (other disks) and "/System/Volumes" (the firmlinked system
// volumes, which would count "/" twice) are not; Finder's ".DS_Store" files are
// never duplicates; a device number read through stat is widened with its
// sign where the bulk reader gives it unsigned, and both mean one device.
const PlatformRules& macos_rules();

// Linux: one file system per root, devices as the kernel gives them; Finder
// writes ".DS_Store" files onto shared disks here too.
const PlatformRules& linux_rules();

// The rules of the platform the engine was built for.
const PlatformRules& platform_rules();

}  // namespace qm
