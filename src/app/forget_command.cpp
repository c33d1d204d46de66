#include <string_view>
#include <vector>

#include "app/commands.h"
#include "app/entry_json.h"
#include "index/forget_paths.h"

namespace qm {

CommandResult forget_command(Engine& engine, const JsonArray& paths) {
  std::vector<std::string_view> given;
  given.reserve(paths.size());
  for (const JsonValue& element : paths) {
    if (element.is_string()) given.emplace_back(element.as_string());
  }
  forget_paths(engine.index, given);
  return summary_json(summarize(engine.index));
}

}  // namespace qm
