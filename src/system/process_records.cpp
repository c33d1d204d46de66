#include "system/process_records.h"

#include <algorithm>

#include "common/utf8.h"

namespace qm {

bool is_system_process(Pid pid, std::optional<std::uint32_t> process_user_id,
                       std::optional<std::uint32_t> own_user_id) {
  if (pid < 5) return true;
  if (!own_user_id || !process_user_id) return true;
  return *process_user_id != *own_user_id;
}

ProcessRecord make_process_record(const Process& process, std::uint64_t total_memory,
                                  std::optional<std::uint32_t> own_user_id) {
  ProcessRecord record;
  record.pid = process.pid;
  record.name = lossy_utf8(process.name);
  if (process.path) record.command = lossy_utf8(*process.path);
  record.cpu_percent = process.cpu_usage;
  record.memory_bytes = process.memory;
  // Divide first, then scale: 1 of 3 gives 33.33333333333333, not ...336.
  const double total = total_memory == 0 ? 1.0 : static_cast<double>(total_memory);
  const double share = static_cast<double>(process.memory) / total;
  record.memory_percent = share * 100.0;
  record.is_system = is_system_process(process.pid, process.user_id, own_user_id);
  return record;
}

std::vector<ProcessRecord> ranked_process_records(const ProcessTable& table, std::uint64_t total_memory,
                                                  std::optional<std::uint32_t> own_user_id) {
  std::vector<ProcessRecord> records;
  records.reserve(table.size());
  for (const Process& process : table) records.push_back(make_process_record(process, total_memory, own_user_id));
  std::stable_sort(records.begin(), records.end(), [](const ProcessRecord& a, const ProcessRecord& b) {
    return a.memory_bytes > b.memory_bytes;
  });
  if (records.size() > kMaxProcessRecords) records.resize(kMaxProcessRecords);
  return records;
}

}  // namespace qm
