#pragma once
// The clocks the engine reads, behind one interface so tests can run time
// forward without waiting.
#include <chrono>
#include <cstdint>

namespace qm {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  // The monotonic clock: elapsed times and progress spacing.
  virtual TimePoint now() const = 0;
  // The wall clock in nanoseconds since 1970-01-01T00:00:00Z (negative before it).
  virtual std::int64_t wall_ns() const = 0;
};

// The machine's clocks.
const Clock& system_clock();

// Whole milliseconds from start to end, 0 when end is not after start.
std::uint64_t whole_ms_between(Clock::TimePoint start, Clock::TimePoint end);

}  // namespace qm
