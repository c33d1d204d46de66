#pragma once
#include <string_view>
#include <vector>

namespace qm {

// Paths compared component by component: repeated separators, a trailing
// separator and "." components carry no meaning, so "/a//b/./" is "/a/b".
// An absolute path never equals or starts with a relative one.
struct PathComponents {
  bool absolute = false;
  std::vector<std::string_view> parts;  // views into the path text it was made from
};

// Splits path into its components; the views point into path.
PathComponents split_path_components(std::string_view path);

// True when both paths name the same components.
bool same_path_components(std::string_view a, std::string_view b);

// True when prefix's components are the leading components of path's (a path
// starts with itself; "/a/b" does not start with "/a/bc").
bool starts_with_path_components(std::string_view path, std::string_view prefix);

// True when the path is "/" (or "//", "/./" ...): absolute with no components.
bool is_file_system_root(std::string_view path);

}  // namespace qm
