#include "app/dispatcher.h"

#include "app/command_args.h"
#include "hashing/find_duplicates.h"
#include "protocol/args.h"

namespace qm {

CommandName command_by_name(std::string_view name) {
  // The length tells most names apart before any byte is compared.
  switch (name.size()) {
    case 4:
      if (name == "scan") return CommandName::Scan;
      if (name == "hash") return CommandName::Hash;
      break;
    case 5:
      if (name == "large") return CommandName::Large;
      if (name == "entry") return CommandName::Entry;
      break;
    case 6:
      if (name == "forget") return CommandName::Forget;
      if (name == "system") return CommandName::System;
      break;
    case 7:
      if (name == "summary") return CommandName::Summary;
      if (name == "measure") return CommandName::Measure;
      break;
    case 8:
      if (name == "children") return CommandName::Children;
      break;
    case 9:
      if (name == "terminate") return CommandName::Terminate;
      break;
    case 10:
      if (name == "duplicates") return CommandName::Duplicates;
      break;
    default: break;
  }
  return CommandName::Unknown;
}

CommandResult dispatch_command(Engine& engine, const Request& request, ProgressSink& progress) {
  const JsonValue& args = request.args;
  const std::uint64_t id = read_entry_id(args);
  switch (command_by_name(request.command)) {
    case CommandName::Scan: {
      Result<ScanRequest> scan = read_scan_args(args);
      if (!scan) return std::move(scan).take_error();
      return scan_command(engine, *scan, progress);
    }
    case CommandName::Hash: return hash_command(engine, id);
    case CommandName::Large: return large_command(engine, read_large_args(args));
    case CommandName::Entry: return entry_command(engine, id);
    case CommandName::Forget: {
      Result<const JsonArray*> paths = read_paths_arg(args);
      if (!paths) return std::move(paths).take_error();
      return forget_command(engine, **paths);
    }
    case CommandName::System: return system_command(*engine.seams.system_provider());
    case CommandName::Summary: return summary_command(engine);
    case CommandName::Measure: {
      Result<const JsonArray*> paths = read_paths_arg(args);
      if (!paths) return std::move(paths).take_error();
      return measure_command(engine, **paths);
    }
    case CommandName::Children: return children_command(engine, id, unsigned_arg(args, "offset", 0));
    case CommandName::Terminate: {
      Result<TerminateArgs> terminate = read_terminate_args(args);
      if (!terminate) return std::move(terminate).take_error();
      return terminate_command(*engine.seams.system_provider(), terminate->pid, terminate->force);
    }
    case CommandName::Duplicates: return duplicates_command(engine, unsigned_arg(args, "minimum", kDuplicatesMinimum), progress);
    case CommandName::Unknown: break;
  }
  return CommandError{kUnknownCommandError};
}

}  // namespace qm
