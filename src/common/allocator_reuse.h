#pragma once
// How the C allocator treats large blocks that are freed. Requests build
// working arrays of a few megabytes (a duplicate search holds several entries
// per candidate file) and free them when they reply. By default such arrays
// get fresh pages from the system every time and give them back on free, so
// each request pays a page fault per 4 KiB again, which on a virtual machine
// costs more than the work done in those pages.
namespace qm {

// Lets blocks of up to a few tens of megabytes come from the heap and keeps
// freed heap memory for the next request, up to a bound, instead of giving
// it back at once. Larger blocks still go straight to and from the system.
void keep_freed_memory_for_reuse();

}  // namespace qm
