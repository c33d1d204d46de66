#pragma once
// A thread of the test process that waits until its guard goes: its kernel id
// names a thread that is not a process (Linux).
#include <sys/syscall.h>
#include <unistd.h>

#include <future>
#include <thread>

namespace qm::test {

class ParkedThread {
 public:
  ParkedThread() {
    std::promise<pid_t> started;
    std::future<pid_t> id = started.get_future();
    std::future<void> released = release_.get_future();
    worker_ = std::thread([&started, released = std::move(released)] {
      started.set_value(static_cast<pid_t>(::syscall(SYS_gettid)));
      released.wait();
    });
    id_ = id.get();
  }
  ~ParkedThread() {
    release_.set_value();
    worker_.join();
  }
  ParkedThread(const ParkedThread&) = delete;
  ParkedThread& operator=(const ParkedThread&) = delete;

  pid_t id() const { return id_; }

 private:
  std::promise<void> release_;
  std::thread worker_;
  pid_t id_ = 0;
};

}  // namespace qm::test
