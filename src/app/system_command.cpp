#include "app/commands.h"
#include "common/utf8.h"
#include "system/system_report.h"

namespace qm {
namespace {

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

JsonValue volume_json(const Disk& disk) {
  JsonObject record;
  record.insert("free", disk.available_capacity);
  // A mount point that is not UTF-8 is still listed, with U+FFFD for the bad bytes.
  record.insert("mount", lossy_utf8(disk.mount_point));
  record.insert("total", disk.total_capacity);
  return record;
}

// Platform text is bytes; lossy decoding keeps the reply valid UTF-8 whatever they hold.
JsonValue optional_text(const std::optional<std::string>& text) { return text ? JsonValue(lossy_utf8(*text)) : JsonValue(); }

}  // namespace

CommandResult system_command(SystemInfoProvider& provider) {
  const SystemReport report = take_system_report(provider);
  JsonArray disks, names, commands, processes;
  disks.reserve(report.disks.size());
  for (const Disk& disk : report.disks) disks.push_back(volume_json(disk));
  names.reserve(report.processes.size());
  for (const Process& process : report.processes) {
    names.emplace_back(lossy_utf8(process.name));
    if (process.path) commands.emplace_back(lossy_utf8(*process.path));  // only those with one
  }
  processes.reserve(report.top_processes.size());
  for (const ProcessRecord& record : report.top_processes) processes.push_back(process_record_json(record));

  JsonObject result;
  result.insert("cpu", report.cpu_usage);  // widened; null when not finite
  result.insert("disks", std::move(disks));
  result.insert("hostname", optional_text(report.host_name));
  result.insert("osVersion", optional_text(report.os_version));
  result.insert("processCommands", std::move(commands));
  result.insert("processNames", std::move(names));
  result.insert("processes", std::move(processes));
  result.insert("totalMemory", report.total_memory);
  result.insert("usedMemory", report.used_memory);
  return JsonValue(std::move(result));
}

}  // namespace qm
