#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/json_value.h"

namespace qm {

// The line a scan writes after a batch: phase "indexing".
JsonValue scan_progress_event(std::uint64_t request_id, std::uint64_t entries, std::uint64_t errors,
                              std::uint64_t skipped, std::uint64_t elapsed_ms, std::string path);

// The line a hashing stage writes: phase "sampling" or "hashing".
JsonValue stage_progress_event(std::uint64_t request_id, std::string_view phase, std::uint64_t entries,
                               std::uint64_t total, std::uint64_t elapsed_ms);

}  // namespace qm
