#include "system/process_table.h"

#include <algorithm>

#include "common/sort_keeping_last.h"

namespace qm {

namespace {
bool pid_less(const Process& a, const Process& b) { return a.pid < b.pid; }
}  // namespace

ProcessTable::ProcessTable(std::vector<Process> processes) : processes_(std::move(processes)) {
  sort_keeping_last(processes_, pid_less);  // a pid listed twice: the later record wins
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
