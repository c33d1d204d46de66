#include "app/commands.h"
#include "system/terminate_process.h"

namespace qm {

CommandResult terminate_command(SystemInfoProvider& provider, Pid pid, bool force) {
  auto ended = terminate_process(provider, pid, force);
  if (!ended) return std::move(ended).take_error();
  return JsonValue(JsonObject{{"ok", true}});
}

}  // namespace qm
