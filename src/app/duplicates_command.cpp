#include <memory>
#include <utility>

#include "app/commands.h"
#include "app/entry_json.h"
#include "common/hex.h"
#include "hashing/digest.h"
#include "hashing/find_duplicates.h"
#include "protocol/json_writer.h"

namespace qm {
namespace {

// The digest as a JSON string of lowercase hex, written without allocating.
void render_digest(const Digest& digest, JsonOut& out) {
  char text[2 + 2 * sizeof digest.bytes];
  char* at = text;
  *at++ = '"';
  for (const std::uint8_t byte : digest.bytes) {
    *at++ = kHexDigits[byte >> 4];
    *at++ = kHexDigits[byte & 0xF];
  }
  *at++ = '"';
  out.append(text, sizeof text);
}

// {"elapsedMs":N,"groups":[{"files":[items],"id":hash,"reclaimable":N},...]},
// written from the report itself: however many files the groups hold, no
// value tree of them is built and nothing is allocated while writing.
class DuplicatesReply final : public JsonStreamer {
 public:
  explicit DuplicatesReply(DuplicateReport report) : report_(std::move(report)) {}

  void render(JsonOut& out) const override {
    out.append("{\"elapsedMs\":");
    render_integer(report_.elapsed_ms, out);
    out.append(",\"groups\":[");
    for (std::size_t g = 0; g < report_.groups.size(); ++g) {
      const DuplicateGroup& group = report_.groups[g];
      if (g > 0) out.push_back(',');
      out.append("{\"files\":[");
      for (std::size_t f = 0; f < group.files.size(); ++f) {
        if (f > 0) out.push_back(',');
        render_entry_object(group.files[f], out);
      }
      out.append("],\"id\":");
      render_digest(group.hash, out);
      out.append(",\"reclaimable\":");
      render_integer(group.reclaimable, out);
      out.push_back('}');
    }
    out.append("]}");
  }

 private:
  DuplicateReport report_;
};

}  // namespace

CommandResult duplicates_command(Engine& engine, std::uint64_t minimum, ProgressSink& progress) {
  const HashContext context{*engine.seams.files, *engine.seams.clock};
  DuplicateReport report = find_duplicates(engine.index, engine.hash_cache, context, minimum, progress);
  return JsonValue(std::make_shared<const DuplicatesReply>(std::move(report)));
}

}  // namespace qm
