#pragma once
#include <string_view>

namespace qm {

// Called once per directory by both readers, after the first names have been
// read and before any of them is stat'ed. Tests use it to change a directory
// in exactly that window; the engine never sets it.
using ListingHook = void (*)(std::string_view directory);

void set_listing_hook(ListingHook hook);  // nullptr removes it
void run_listing_hook(std::string_view directory);

}  // namespace qm
