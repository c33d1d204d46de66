#include "common/clock.h"

namespace qm {
namespace {

class SystemClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  std::int64_t wall_ns() const override {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
  }
};

}  // namespace

const Clock& system_clock() {
  static const SystemClock clock;
  return clock;
}

std::uint64_t whole_ms_between(Clock::TimePoint start, Clock::TimePoint end) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
  return ms > 0 ? static_cast<std::uint64_t>(ms) : 0;
}

}  // namespace qm
