#pragma once

#include <cstddef>

namespace qm {

// What standard output's pipe is asked to hold: a duplicates reply runs to
// megabytes, and with the default 64 KiB pipe it reaches the front end in
// dozens of pieces, each a wake-up on both sides and, for a reader that
// gathers the line piece by piece, another copy of all it has so far.
inline constexpr std::size_t kOutputPipeBytes = std::size_t{1} << 20;

// Widens fd to kOutputPipeBytes when it is a pipe that holds less and the
// system allows it; anything else (a file, a terminal, a refused request) is
// left as it is. Returns what the pipe holds afterwards, or 0 when fd is no
// pipe whose size can be told.
std::size_t widen_output_pipe(int fd);

}  // namespace qm
