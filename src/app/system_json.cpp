#include "app/system_json.h"

#include "common/utf8.h"

namespace qm {

JsonValue process_record_json(const ProcessRecord& record) {
  JsonObject object;
  object.insert("command", record.command);
  object.insert("cpuPercent", record.cpu_percent);  // widened; null when not finite
  object.insert("isSystem", record.is_system);
  object.insert("memoryBytes", record.memory_bytes);
  object.insert("memoryPercent", record.memory_percent);  // null when not finite
  object.insert("name", record.name);
  object.insert("pid", record.pid);
  return object;
}

JsonArray process_names_json(const ProcessTable& table) {
  JsonArray names;
  names.reserve(table.size());
  for (const Process& process : table) names.emplace_back(lossy_utf8(process.name));
  return names;
}

JsonArray process_commands_json(const ProcessTable& table) {
  JsonArray commands;
  commands.reserve(table.size());
  for (const Process& process : table) {
    if (process.path) commands.emplace_back(lossy_utf8(*process.path));
  }
  return commands;
}

JsonArray volume_records_json(const std::vector<Disk>& disks) {
  JsonArray records;
  records.reserve(disks.size());
  for (const Disk& disk : disks) {
    JsonObject record;
    record.insert("free", disk.available_capacity);
    record.insert("mount", lossy_utf8(disk.mount_point));
    record.insert("total", disk.total_capacity);
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace qm
