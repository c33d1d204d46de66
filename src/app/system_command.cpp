#include "app/commands.h"
#include "app/system_json.h"
#include "common/utf8.h"
#include "system/system_report.h"

namespace qm {
namespace {

JsonValue optional_text(const std::optional<std::string>& text) { return text ? JsonValue(lossy_utf8(*text)) : JsonValue(); }

}  // namespace

CommandResult system_command(SystemInfoProvider& provider) {
  const SystemReport report = take_system_report(provider);
  JsonArray processes;
  processes.reserve(report.top_processes.size());
  for (const ProcessRecord& record : report.top_processes) processes.push_back(process_record_json(record));

  JsonObject result;
  result.insert("cpu", report.cpu_usage);  // widened; null when not finite
  result.insert("disks", volume_records_json(report.disks));
  result.insert("hostname", optional_text(report.host_name));
  result.insert("osVersion", optional_text(report.os_version));
  result.insert("processCommands", process_commands_json(report.processes));
  result.insert("processNames", process_names_json(report.processes));
  result.insert("processes", std::move(processes));
  result.insert("totalMemory", report.total_memory);
  result.insert("usedMemory", report.used_memory);
  return JsonValue(std::move(result));
}

}  // namespace qm
