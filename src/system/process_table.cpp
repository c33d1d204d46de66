#include "system/process_table.h"

#include <algorithm>

namespace qm {

namespace {
bool pid_less(const Process& a, const Process& b) { return a.pid < b.pid; }
}  // namespace

ProcessTable::ProcessTable(std::vector<Process> processes) : processes_(std::move(processes)) {
  // Listings usually arrive sorted already; stable so "last one wins" below is well defined.
  if (!std::is_sorted(processes_.begin(), processes_.end(), pid_less)) {
    std::stable_sort(processes_.begin(), processes_.end(), pid_less);
  }
  // Compact in place, keeping the last process of each run of equal ids.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < processes_.size(); ++i) {
    if (i + 1 < processes_.size() && processes_[i + 1].pid == processes_[i].pid) continue;
    if (kept != i) processes_[kept] = std::move(processes_[i]);
    ++kept;
  }
  processes_.resize(kept);
}

void ProcessTable::insert(Process process) {
  auto at = std::lower_bound(processes_.begin(), processes_.end(), process, pid_less);
  if (at != processes_.end() && at->pid == process.pid) {
    *at = std::move(process);
  } else {
    processes_.insert(at, std::move(process));
  }
}

const Process* ProcessTable::find(Pid pid) const {
  auto at = std::lower_bound(processes_.begin(), processes_.end(), pid,
                             [](const Process& p, Pid value) { return p.pid < value; });
  return at != processes_.end() && at->pid == pid ? &*at : nullptr;
}

Process* ProcessTable::find(Pid pid) {
  return const_cast<Process*>(static_cast<const ProcessTable&>(*this).find(pid));
}

}  // namespace qm
