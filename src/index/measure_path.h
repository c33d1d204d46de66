#pragma once
#include <cstdint>
#include <string_view>

#include "fs/directory_reader.h"

namespace qm {

// Bytes a path occupies on disk and what could not be read on the way.
struct PathMeasure {
  std::uint64_t size = 0;    // allocated bytes of the file, or of every file below the directory
  std::uint64_t errors = 0;  // read failures plus entries not admitted (links, special files)
};

// Measures one path without any scan filter: other file systems, hidden
// directories and directories reached twice are all entered. Never fails.
// Hard links count once per link; symbolic links count as errors. Every
// directory below path is opened by name from its parent's descriptor and
// must be the object listed there (else it counts as an error), so no link
// swapped in is followed and no depth is too deep.
PathMeasure measure_path(std::string_view path, const DirectoryReader& reader);

}  // namespace qm
