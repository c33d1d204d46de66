#include "fs/listing_hook.h"

#include <atomic>

namespace qm {
namespace {
std::atomic<ListingHook> g_listing_hook{nullptr};
}  // namespace

void set_listing_hook(ListingHook hook) { g_listing_hook.store(hook, std::memory_order_release); }

void run_listing_hook(std::string_view directory) {
  // One relaxed-cost load per directory; nothing happens unless a test set a hook.
  if (const ListingHook hook = g_listing_hook.load(std::memory_order_acquire)) hook(directory);
}

}  // namespace qm
