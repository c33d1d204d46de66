#pragma once
// Selected volumes in the layout of the "disks" reply member (mount points as
// their bytes), so tables of cases read like the replies they stand for.
#include <string>
#include <vector>

#include "system/system_info_provider.h"

namespace qm::test {

inline std::string disks_text(const std::vector<Disk>& disks) {
  std::string text = "[";
  for (const Disk& disk : disks) {
    if (text.size() > 1) text += ",";
    text += "{\"free\":" + std::to_string(disk.available_capacity) + ",\"mount\":\"" + disk.mount_point +
            "\",\"total\":" + std::to_string(disk.total_capacity) + "}";
  }
  return text + "]";
}

}  // namespace qm::test
