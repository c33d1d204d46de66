#include "system/volumes.h"

#include "common/path_components.h"

namespace qm {

namespace {

std::optional<std::uint64_t> chosen_available(const VolumeProperties& properties) {
  if (properties.important_available_capacity && *properties.important_available_capacity != 0) {
    return properties.important_available_capacity;
  }
  return properties.available_capacity;
}

}  // namespace

std::vector<Disk> select_volumes(const std::vector<MountedVolume>& mounts) {
  std::vector<Disk> disks;
  for (const MountedVolume& mount : mounts) {
    if (!mount.properties) continue;
    const VolumeProperties& properties = *mount.properties;
    if (!properties.browsable.value_or(false)) continue;
    if (!properties.local.value_or(true)) continue;

    Disk* existing = nullptr;
    for (Disk& disk : disks) {
      if (same_path_components(disk.mount_point, mount.mount_point)) {
        existing = &disk;
        break;
      }
    }
    if (existing) {
      // A later mount on the same point: its capacities are the ones in effect.
      if (properties.total_capacity) existing->total_capacity = *properties.total_capacity;
      if (auto available = chosen_available(properties)) existing->available_capacity = *available;
      continue;
    }
    if (!properties.name) continue;

    Disk disk;
    disk.mount_point = mount.mount_point;
    disk.total_capacity = properties.total_capacity.value_or(0);
    disk.available_capacity = chosen_available(properties).value_or(0);
    disks.push_back(std::move(disk));
  }
  return disks;
}

}  // namespace qm
