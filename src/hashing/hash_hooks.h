#pragma once
// Observation points inside hash_entry, for tests only: counting the files that
// are really opened, and changing a file at a chosen moment of a full hash.
// The engine never installs hooks; unset, each costs one relaxed atomic load per file.
#include <cstdint>
#include <string>

namespace qm {

struct HashHooks {
  // After the file at path was opened for hashing. May be called from pool workers.
  void (*after_open)(const std::string& path) = nullptr;
  // After each read of a full-mode hash that returned bytes; total counts the bytes read so far.
  void (*after_read)(const std::string& path, std::uint64_t total) = nullptr;
};

// Installs hooks (nullptr removes them). The caller keeps *hooks alive while installed
// and changes hooks only while no hash is running.
void install_hash_hooks(const HashHooks* hooks);
const HashHooks* installed_hash_hooks();

}  // namespace qm
