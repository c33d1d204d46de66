#pragma once
// Which mounted file systems become "disks", and how they are written. The
// provider reports the facts of each mount-table entry; the selection rules
// below are the same on every platform.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/system_info_provider.h"

namespace qm {

// The volume properties of one mounted file system; any of them may be unknown.
struct VolumeProperties {
  std::optional<std::string> name;
  std::optional<bool> browsable;
  std::optional<bool> local;
  std::optional<std::uint64_t> total_capacity;
  std::optional<std::uint64_t> available_capacity;
  std::optional<std::uint64_t> important_available_capacity;
};

// One entry of the mount table, in table order.
struct MountedVolume {
  std::string mount_point;                    // bytes
  std::optional<VolumeProperties> properties;  // nullopt when they could not be read
};

// Keeps browsable, local, named volumes in table order; a repeated mount point
// (equal component by component, so "/a//b/" repeats "/a/b") updates the
// earlier entry's capacities instead of adding another.
std::vector<Disk> select_volumes(const std::vector<MountedVolume>& mounts);

}  // namespace qm
