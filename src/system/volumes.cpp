#include "system/volumes.h"

#include "common/utf8.h"
#include "index/path_components.h"

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

JsonArray volume_records_json(const std::vector<Disk>& disks) {
  JsonArray records;
  records.reserve(disks.size());
  for (const Disk& disk : disks) {
    JsonObject record;
    record.insert("free", disk.available_capacity);
    // A mount point that is not UTF-8 is still listed, with U+FFFD for the bad bytes.
    record.insert("mount", lossy_utf8(disk.mount_point));
    record.insert("total", disk.total_capacity);
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace qm
