#pragma once
#include "index/index.h"
#include "protocol/json_value.h"

namespace qm {

// The nine-member summary that "scan", "summary" and "forget" reply with.
JsonValue scan_summary(const Index& index);

}  // namespace qm
