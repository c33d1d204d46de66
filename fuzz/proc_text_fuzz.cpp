// Any bytes as the text of each file the Linux provider reads under /proc (and
// os-release, and the by-label names): every parser takes them without
// crashing, and what it returns stays inside what it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "system/proc_text_linux.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

// True when part lies inside whole (a view the parser handed back).
bool inside(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  if (const auto stat = qm::parse_proc_stat(text)) require(inside(stat->name, text));
  (void)qm::parse_status_real_user_id(text);
  (void)qm::parse_status_thread_group_id(text);
  const qm::MemoryInfo memory = qm::parse_meminfo(text);
  (void)memory;
  const qm::KernelStat kernel = qm::parse_kernel_stat(text);
  require(kernel.cpus.size() <= size);
  for (const qm::CpuTicks& cpu : kernel.cpus) require(cpu.busy <= cpu.total);

  // Unescaping only ever shortens: "\040" becomes one byte, "\x20" one byte.
  require(qm::unescape_mount_text(text).size() <= size);
  require(qm::unescape_udev_name(text).size() <= size);
  if (const auto entry = qm::parse_mountinfo_line(text)) {
    require(entry->mount_point.size() <= size && entry->source.size() <= size && entry->type.size() <= size);
  }
  if (const auto name = qm::parse_os_release_pretty_name(text)) require(!name->empty() && name->size() <= size);
  return 0;
}
