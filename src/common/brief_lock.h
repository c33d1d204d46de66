#pragma once
// Locking a mutex that is only ever held for a moment.
#include <mutex>

namespace qm {

// Tells the processor this thread is waiting in a loop.
inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#endif
}

// Holds a mutex for its lifetime, trying for a moment before sleeping on it.
// Meant for locks held well under a microsecond by pool workers: sleeping
// and being woken costs two system calls and two context switches, far more
// than the wait. A holder that was preempted is slept on after the tries.
class BriefLock {
 public:
  explicit BriefLock(std::mutex& mutex) : mutex_(mutex) {
    for (int i = 0; i < kTries; ++i) {
      if (mutex_.try_lock()) return;
      cpu_relax();
    }
    mutex_.lock();
  }
  ~BriefLock() { mutex_.unlock(); }
  BriefLock(const BriefLock&) = delete;
  BriefLock& operator=(const BriefLock&) = delete;

 private:
  static constexpr int kTries = 128;
  std::mutex& mutex_;
};

}  // namespace qm
