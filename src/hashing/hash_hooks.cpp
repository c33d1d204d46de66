#include "hashing/hash_hooks.h"

#include <atomic>

namespace qm {
namespace {

std::atomic<const HashHooks*> g_hooks{nullptr};

}  // namespace

void install_hash_hooks(const HashHooks* hooks) { g_hooks.store(hooks, std::memory_order_release); }

const HashHooks* installed_hash_hooks() { return g_hooks.load(std::memory_order_acquire); }

}  // namespace qm
