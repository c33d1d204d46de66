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

std::uint64_t mac_start_stamp(const MacBsdInfo& bsd) {
  constexpr std::uint64_t kMicrosecondsPerSecond = 1'000'000;
  if (bsd.pbi_start_tvsec > UINT64_MAX / kMicrosecondsPerSecond) return UINT64_MAX;
  return saturating_add(bsd.pbi_start_tvsec * kMicrosecondsPerSecond, bsd.pbi_start_tvusec);
}

bool mac_is_same_process(const std::optional<MacBsdInfo>& now, const Process& checked) {
  return now && now->pbi_status != MacBsdInfo::kZombie && now->pbi_pid == checked.pid &&
         mac_start_stamp(*now) == checked.start_stamp;
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
  process.start_stamp = mac_start_stamp(bsd);
  if (facts.task) {
    process.memory = facts.task->pti_resident_size;
    process.cpu_time_ns =
        mach_time_to_ns(saturating_add(facts.task->pti_total_user, facts.task->pti_total_system), timebase);
  }
  return process;
}

}  // namespace qm
