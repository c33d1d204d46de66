#pragma once
// The process's descriptor limit. A scan holds many directories open at once
// (the ones being listed, the ancestors each worker opens from, the listed
// parents whose subdirectories wait), and desktop sessions often start
// programs with a soft limit of 256 or 1024, far below what the system allows.
#include <cstdint>

namespace qm {

// The soft limit to ask for: the current one raised toward the hard limit,
// up to ceiling, and never lowered. Limits are as getrlimit gives them
// (RLIM_INFINITY as its value).
std::uint64_t raised_descriptor_limit(std::uint64_t soft, std::uint64_t hard, std::uint64_t infinity,
                                      std::uint64_t ceiling);

// The most this platform lets a process ask for.
std::uint64_t platform_descriptor_ceiling();

// The process's soft descriptor limit now; UINT64_MAX when it has none (or it
// cannot be read).
std::uint64_t soft_descriptor_limit();

// Raises the soft descriptor limit as raised_descriptor_limit says. A refusal
// leaves the limit as it was: the walks size what they hold by the limit.
void raise_descriptor_limit();

}  // namespace qm
