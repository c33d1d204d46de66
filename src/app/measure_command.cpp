#include "app/commands.h"
#include "common/thread_pool.h"
#include "index/measure_path.h"

namespace qm {

CommandResult measure_command(Engine& engine, const JsonArray& paths) {
  // One path per work item; results land by position, so the reply keeps request order.
  std::vector<PathMeasure> measures(paths.size());
  const DirectoryReader& reader = *engine.seams.directories;
  process_pool().for_each_index(paths.size(), [&](std::size_t i) {
    const JsonValue& element = paths[i];
    measures[i] = measure_path(element.is_string() ? std::string_view(element.as_string()) : std::string_view(), reader);
  });
  JsonArray result;
  result.reserve(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    JsonObject object;
    object.insert("errors", measures[i].errors);
    object.insert("path", paths[i].is_string() ? paths[i].as_string() : std::string());
    object.insert("size", measures[i].size);
    result.push_back(std::move(object));
  }
  return JsonValue(std::move(result));
}

}  // namespace qm
