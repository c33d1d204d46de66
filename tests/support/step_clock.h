#pragma once
// A clock for tests: every reading of the monotonic clock moves it on by a
// fixed step (0: time stands still); the wall clock is set by hand.
#include <atomic>
#include <chrono>
#include <cstdint>

#include "common/clock.h"

namespace qm::test {

class StepClock final : public Clock {
 public:
  explicit StepClock(std::chrono::nanoseconds step, std::int64_t wall_ns = 1'700'000'000'000'000'000)
      : step_(step.count()), wall_ns_(wall_ns) {}

  TimePoint now() const override { return TimePoint(std::chrono::nanoseconds(ticks_.fetch_add(step_) + step_)); }
  std::int64_t wall_ns() const override { return wall_ns_.load(); }
  void set_wall_ns(std::int64_t wall_ns) { wall_ns_.store(wall_ns); }

 private:
  const std::int64_t step_;
  mutable std::atomic<std::int64_t> ticks_{0};
  std::atomic<std::int64_t> wall_ns_;
};

}  // namespace qm::test
