#include "system/mach_counters.h"

#include "common/saturating.h"

namespace qm {

std::uint64_t mach_used_memory(const MachVmStatistics& statistics, std::uint64_t page_size) {
  // Four 32-bit counts cannot overflow 64 bits; only the product can.
  const std::uint64_t pages = std::uint64_t{statistics.active_count} + statistics.wire_count +
                              statistics.compressor_page_count + statistics.speculative_count;
  if (page_size != 0 && pages > UINT64_MAX / page_size) return UINT64_MAX;
  return pages * page_size;
}

namespace {

// busy and total as sums of the 32-bit counters, modulo 2^32 like the counters.
struct RawTicks {
  std::uint32_t busy = 0;
  std::uint32_t total = 0;
};

RawTicks raw_ticks(const MachCpuLoad& load) {
  const auto& t = load.cpu_ticks;
  RawTicks raw;
  raw.busy = t[MachCpuLoad::kUser] + t[MachCpuLoad::kSystem] + t[MachCpuLoad::kNice];
  raw.total = raw.busy + t[MachCpuLoad::kIdle];
  return raw;
}

// The counter that has the low 32 bits `raw` and moved forward from `previous`
// by less than 2^32.
std::uint64_t carried_on(std::uint64_t previous, std::uint32_t raw) {
  const std::uint32_t moved = raw - static_cast<std::uint32_t>(previous);  // modulo 2^32
  return previous + moved;
}

}  // namespace

std::vector<CpuTicks> mach_cpu_ticks(const std::vector<CpuTicks>& previous, const std::vector<MachCpuLoad>& loads) {
  std::vector<CpuTicks> ticks(loads.size());
  for (std::size_t i = 0; i < loads.size(); ++i) {
    const RawTicks raw = raw_ticks(loads[i]);
    if (i < previous.size()) {
      ticks[i].busy = carried_on(previous[i].busy, raw.busy);
      ticks[i].total = carried_on(previous[i].total, raw.total);
    } else {
      ticks[i].busy = raw.busy;
      ticks[i].total = raw.total;
    }
  }
  return ticks;
}

std::uint64_t mach_time_to_ns(std::uint64_t units, MachTimebase timebase) {
  if (timebase.numer == 0 || timebase.denom == 0) return units;
  const std::uint64_t numer = timebase.numer, denom = timebase.denom;
  // Split so the multiplication cannot overflow: units = q * denom + r.
  const std::uint64_t q = units / denom, r = units % denom;
  if (q > UINT64_MAX / numer) return UINT64_MAX;
  return saturating_add(q * numer, r * numer / denom);
}

}  // namespace qm
