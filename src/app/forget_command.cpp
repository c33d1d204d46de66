#include <string_view>
#include <vector>

#include "index/forget_paths.h"
#include "index/scan_summary.h"
#include "protocol/commands.h"

namespace qm {

CommandResult forget_command(Engine& engine, const JsonArray& paths) {
  std::vector<std::string_view> given;
  given.reserve(paths.size());
  for (const JsonValue& element : paths) {
    if (element.is_string()) given.push_back(element.as_string());
  }
  forget_paths(engine.index, given);
  return scan_summary(engine.index);
}

}  // namespace qm
