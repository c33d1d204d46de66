#include "system/mac_process_info.h"

#include <algorithm>

#include "common/saturating.h"

namespace qm {
namespace {

template <std::size_t N>
std::string_view up_to_nul(const std::array<char, N>& text) {
  const auto end = std::find(text.begin(), text.end(), '\0');
  return std::string_view(text.data(), static_cast<std::size_t>(end - text.begin()));
}

}  // namespace

std::string_view mac_process_name(const MacBsdInfo& bsd) {
  const std::string_view name = up_to_nul(bsd.pbi_name);
  return name.empty() ? up_to_nul(bsd.pbi_comm) : name;
}

std::optional<Process> mac_process(const MacProcessFacts& facts, MachTimebase timebase) {
  const MacBsdInfo& bsd = facts.bsd;
  if (bsd.pbi_status == MacBsdInfo::kZombie) return std::nullopt;
  Process process;
  process.pid = bsd.pbi_pid;
  if (bsd.pbi_ppid != 0) process.parent = bsd.pbi_ppid;
  process.name = mac_process_name(bsd);
  process.path = facts.path;
  process.user_id = bsd.pbi_ruid;
  process.start_time = bsd.pbi_start_tvsec;
  if (facts.task) {
    process.memory = facts.task->pti_resident_size;
    process.cpu_time_ns =
        mach_time_to_ns(saturating_add(facts.task->pti_total_user, facts.task->pti_total_system), timebase);
  }
  return process;
}

}  // namespace qm
