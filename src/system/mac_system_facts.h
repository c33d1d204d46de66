#pragma once
// The text facts of a Mac and its mounted volumes, from the raw values the
// provider reads: sysctl strings (kern.hostname, kern.osproductversion,
// kern.osversion), the getfsstat table (statfs.f_mntonname) and the
// CoreFoundation URL volume properties. Pure functions, tested with fixtures.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "system/volumes.h"

namespace qm {

// A sysctl string as read: the bytes up to the first NUL (the reply counts
// the terminating NUL, and a fixed buffer may hold more after it).
std::string_view sysctl_text(std::string_view reply);

// "macOS 15.2 (24C101)" from the product version and the build version;
// "macOS 15.2" without a build; nullopt without a product version.
std::optional<std::string> mac_os_long_version(std::string_view product_version, std::string_view build_version);

// The volume properties of one mount point as CoreFoundation gives them; each
// is absent when the dictionary has no value of the expected type for its key.
struct MacVolumeValues {
  std::optional<std::string> name;                          // kCFURLVolumeNameKey, UTF-8
  std::optional<bool> is_browsable;                         // kCFURLVolumeIsBrowsableKey
  std::optional<bool> is_local;                             // kCFURLVolumeIsLocalKey
  std::optional<std::int64_t> total_capacity;               // kCFURLVolumeTotalCapacityKey
  std::optional<std::int64_t> available_capacity_for_important_usage;  // ...ForImportantUsageKey
  std::optional<std::int64_t> available_capacity;           // kCFURLVolumeAvailableCapacityKey
};

// The properties the volume selection works on. CoreFoundation gives
// capacities as signed 64-bit numbers; a negative one is taken as not reported.
VolumeProperties mac_volume_properties(const MacVolumeValues& values);

}  // namespace qm
