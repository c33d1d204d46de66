#include "system/system_report.h"

namespace qm {

SystemReport take_system_report(SystemInfoProvider& provider) {
  System system = provider.new_all();
  provider.refresh_snapshot(system);
  // CPU figures are rates, so they need an interval between two refreshes.
  provider.pause(kSystemSamplingPause);
  provider.refresh_snapshot(system);

  SystemReport report;
  report.disks = provider.list_volumes();
  std::optional<std::uint32_t> own_user_id;
  if (const Process* own = system.processes.find(provider.current_pid())) own_user_id = own->user_id;
  report.top_processes = ranked_process_records(system.processes, system.total_memory, own_user_id);
  report.cpu_usage = system.cpu_usage;
  report.host_name = provider.host_name();
  report.os_version = provider.os_long_version();
  report.total_memory = system.total_memory;
  report.used_memory = system.used_memory;
  report.processes = std::move(system.processes);
  return report;
}

}  // namespace qm
