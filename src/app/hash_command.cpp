#include "app/commands.h"
#include "hashing/blake3_hex.h"
#include "hashing/hash_entry.h"

namespace qm {

// The full hash of one entry, checked against the disk before and after; the
// cache is not consulted, so the reply always reflects the bytes on disk now.
CommandResult hash_command(Engine& engine, std::uint64_t id) {
  const HashContext context{*engine.seams.files, *engine.seams.clock};
  auto hashed = hash_entry(engine.index, engine.hash_cache, context, id, HashMode::Full, true);
  if (!hashed) return std::move(hashed).take_error();
  JsonObject result;
  result.insert("hash", digest_hex(hashed->digest));
  return JsonValue(std::move(result));
}

}  // namespace qm
