#include "common/path_components.h"

namespace qm {
namespace {

// Calls fn(component) for every meaningful component of path, in order;
// stops early when fn returns false. Returns false when stopped early.
template <class Fn>
bool for_each_component(std::string_view path, Fn&& fn) {
  std::size_t at = 0;
  while (at < path.size()) {
    const std::size_t slash = path.find('/', at);
    const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
    const std::string_view part = path.substr(at, end - at);
    if (!part.empty() && part != ".") {
      if (!fn(part)) return false;
    }
    at = end + 1;
  }
  return true;
}

bool is_absolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

}  // namespace

PathComponents split_path_components(std::string_view path) {
  PathComponents result;
  result.absolute = is_absolute(path);
  for_each_component(path, [&](std::string_view part) {
    result.parts.push_back(part);
    return true;
  });
  return result;
}

bool starts_with_path_components(std::string_view path, std::string_view prefix) {
  if (is_absolute(path) != is_absolute(prefix)) return false;
  // Walk both paths in step without building component lists.
  std::size_t at = 0;
  auto next_of_path = [&](std::string_view& part) {
    while (at < path.size()) {
      const std::size_t slash = path.find('/', at);
      const std::size_t end = slash == std::string_view::npos ? path.size() : slash;
      part = path.substr(at, end - at);
      at = end + 1;
      if (!part.empty() && part != ".") return true;
    }
    return false;
  };
  return for_each_component(prefix, [&](std::string_view wanted) {
    std::string_view part;
    return next_of_path(part) && part == wanted;
  });
}

bool same_path_components(std::string_view a, std::string_view b) {
  if (!starts_with_path_components(a, b)) return false;
  return starts_with_path_components(b, a);
}

bool is_file_system_root(std::string_view path) {
  return is_absolute(path) && for_each_component(path, [](std::string_view) { return false; });
}

}  // namespace qm
