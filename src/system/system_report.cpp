#include "system/system_commands.h"

#include "common/utf8.h"
#include "system/process_records.h"
#include "system/volumes.h"

namespace qm {

CommandResult system_command(SystemInfoProvider& provider) {
  System system = provider.new_all();
  provider.refresh_snapshot(system);
  // CPU figures are rates, so they need an interval between two refreshes.
  provider.pause(kSystemSamplingPause);
  provider.refresh_snapshot(system);
  const std::vector<Disk> disks = provider.list_volumes();

  std::optional<std::uint32_t> own_user_id;
  if (const Process* own = system.processes.find(provider.current_pid())) own_user_id = own->user_id;

  const std::vector<ProcessRecord> records =
      ranked_process_records(system.processes, system.total_memory, own_user_id);

  JsonObject result;
  result.insert("cpu", system.cpu_usage);  // widened; null when not finite
  result.insert("disks", volume_records_json(disks));
  // Platform text is bytes; lossy decoding keeps the reply valid UTF-8 whatever they hold.
  const std::optional<std::string> host = provider.host_name();
  result.insert("hostname", host ? JsonValue(lossy_utf8(*host)) : JsonValue());
  const std::optional<std::string> os = provider.os_long_version();
  result.insert("osVersion", os ? JsonValue(lossy_utf8(*os)) : JsonValue());
  result.insert("processCommands", process_commands_json(system.processes));
  result.insert("processNames", process_names_json(system.processes));
  result.insert("processes", process_records_json(records));
  result.insert("totalMemory", system.total_memory);
  result.insert("usedMemory", system.used_memory);
  return JsonValue(std::move(result));
}

CommandResult system_command() {
  auto provider = make_platform_system_info_provider();
  return system_command(*provider);
}

}  // namespace qm
