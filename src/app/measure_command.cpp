#include <memory>
#include <utility>
#include <vector>

#include "app/commands.h"
#include "common/thread_pool.h"
#include "index/measure_path.h"
#include "protocol/json_writer.h"

namespace qm {
namespace {

// [{"errors":E,"path":P,"size":S},...], written from the request's own path
// texts and one pair of numbers per path: no object per element is built.
class MeasureReply final : public JsonStreamer {
 public:
  MeasureReply(const JsonArray& paths, std::vector<PathMeasure> measures)
      : paths_(paths), measures_(std::move(measures)) {}

  void render(JsonOut& out) const override {
    out.push_back('[');
    for (std::size_t i = 0; i < measures_.size(); ++i) {
      if (i > 0) out.push_back(',');
      out.append("{\"errors\":");
      render_integer(measures_[i].errors, out);
      out.append(",\"path\":");
      render_json_string(paths_[i].is_string() ? paths_[i].as_string() : std::string_view(), out);
      out.append(",\"size\":");
      render_integer(measures_[i].size, out);
      out.push_back('}');
    }
    out.push_back(']');
  }

 private:
  const JsonArray& paths_;
  std::vector<PathMeasure> measures_;
};

}  // namespace

CommandResult measure_command(Engine& engine, const JsonArray& paths) {
  // One path per work item; results land by position, so the reply keeps request order.
  std::vector<PathMeasure> measures(paths.size());
  const DirectoryReader& reader = *engine.seams.directories;
  process_pool().for_each_index(paths.size(), [&](std::size_t i) {
    const JsonValue& element = paths[i];
    measures[i] = measure_path(element.is_string() ? element.as_string() : std::string_view(), reader);
  });
  return JsonValue(std::make_shared<const MeasureReply>(paths, std::move(measures)));
}

}  // namespace qm
