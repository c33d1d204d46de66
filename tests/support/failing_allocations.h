#pragma once
// Makes operator new fail on purpose, so tests can walk a piece of code through
// every allocation it makes and check what happens when that one fails: no
// abort, nothing leaked, a reply all the same.
//
// Only a test binary that compiles support/failing_allocations.cpp into itself
// (see tests/CMakeLists.txt) has the replaced operator new; the counting is per
// thread, so the pool's workers and other threads are never failed.
#include <cstdint>

namespace qm::test {

enum class FailureMode {
  Once,        // only the chosen allocation fails; later ones succeed
  FromThenOn,  // the chosen allocation and every later one fail, as when memory has run out
};

// While alive, the allocation numbered `skip` (0: the next one) made on this
// thread throws std::bad_alloc, and with FromThenOn every one after it too.
class FailAllocations {
 public:
  FailAllocations(std::uint64_t skip, FailureMode mode);
  ~FailAllocations();
  FailAllocations(const FailAllocations&) = delete;
  FailAllocations& operator=(const FailAllocations&) = delete;

  // True once an allocation has been failed.
  bool failed() const;
};

// Runs body with allocation 0, 1, 2, ... failing in turn until a run makes no
// failed allocation; after each run check() is called with no failure armed.
// Returns the number of runs that had a failure. Stops at max_runs (a test that
// reaches it fails).
template <class Body, class Check>
std::uint64_t for_each_failing_allocation(FailureMode mode, Body body, Check check,
                                          std::uint64_t max_runs = 100000) {
  for (std::uint64_t skip = 0; skip < max_runs; ++skip) {
    bool failed = false;
    {
      FailAllocations fail(skip, mode);
      body();
      failed = fail.failed();
    }
    check(skip);
    if (!failed) return skip;
  }
  return max_runs;
}

}  // namespace qm::test
