#pragma once
// The JSON forms of the "system" reply's parts. Platform text is bytes; each
// is written as text with U+FFFD for what is not UTF-8.
#include <vector>

#include "protocol/json_value.h"
#include "system/process_records.h"
#include "system/process_table.h"
#include "system/system_info_provider.h"

namespace qm {

// {"command", "cpuPercent", "isSystem", "memoryBytes", "memoryPercent", "name", "pid"}
JsonValue process_record_json(const ProcessRecord& record);

// Every process's name, in table order.
JsonArray process_names_json(const ProcessTable& table);
// Every executable path, in table order; processes without one add nothing.
JsonArray process_commands_json(const ProcessTable& table);

// {"free", "mount", "total"} per disk, in list order.
JsonArray volume_records_json(const std::vector<Disk>& disks);

}  // namespace qm
