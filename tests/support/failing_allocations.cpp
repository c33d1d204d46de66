// Replaces the global operator new and delete of the test binary it is built
// into (on malloc and free), counting allocations on threads that armed a
// FailAllocations.
#include "support/failing_allocations.h"

#include <cstdlib>
#include <new>

namespace qm::test {
namespace {

struct Armed {
  bool on = false;
  bool failed = false;
  FailureMode mode = FailureMode::Once;
  std::uint64_t left = 0;  // allocations to let through before failing
};
thread_local Armed t_armed;

bool should_fail() {
  Armed& armed = t_armed;
  if (!armed.on) return false;
  if (armed.left > 0) {
    --armed.left;
    return false;
  }
  if (armed.failed && armed.mode == FailureMode::Once) return false;
  armed.failed = true;
  return true;
}

void* allocate(std::size_t size) {
  if (should_fail()) throw std::bad_alloc();
  void* p = std::malloc(size == 0 ? 1 : size);
  if (!p) throw std::bad_alloc();
  return p;
}

void* allocate_nothrow(std::size_t size) noexcept {
  if (should_fail()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

FailAllocations::FailAllocations(std::uint64_t skip, FailureMode mode) { t_armed = Armed{true, false, mode, skip}; }
FailAllocations::~FailAllocations() { t_armed = Armed{}; }
bool FailAllocations::failed() const { return t_armed.failed; }

}  // namespace qm::test

void* operator new(std::size_t size) { return qm::test::allocate(size); }
void* operator new[](std::size_t size) { return qm::test::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return qm::test::allocate_nothrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return qm::test::allocate_nothrow(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
