#pragma once
// The scan with its walk limits open to tests; scan_command runs it with the defaults.
#include <cstdint>

#include "index/scan_walk.h"
#include "protocol/commands.h"

namespace qm {

CommandResult run_scan(Index& index, const ScanArgs& args, std::uint64_t request_id, const WalkLimits& limits);

}  // namespace qm
