#pragma once
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace qm {

// A fixed set of worker threads that runs parallel maps. The calling thread is
// not a worker: it hands the work over and waits until every item is done.
class ThreadPool {
 public:
  explicit ThreadPool(unsigned workers);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  unsigned size() const { return static_cast<unsigned>(workers_.size()); }

  // Calls fn(i) for every i in [0, count) on the workers and returns when all are done.
  // One map runs at a time; a call made from inside a worker runs inline.
  void for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn);

  // Maps fn over items on the workers; the results come back in item order.
  template <class Item, class Fn>
  auto map(const std::vector<Item>& items, Fn&& fn) {
    using Out = std::decay_t<decltype(fn(items[0]))>;
    std::vector<Out> results(items.size());
    for_each_index(items.size(), [&](std::size_t i) { results[i] = fn(items[i]); });
    return results;
  }

 private:
  void worker_loop();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::mutex map_mutex_;  // one map at a time
  std::condition_variable work_ready_;
  std::condition_variable work_done_;
  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t job_count_ = 0;
  std::size_t next_index_ = 0;
  std::size_t finished_ = 0;
  std::size_t generation_ = 0;
  bool stopping_ = false;
};

// Pool size for this machine: online processors clamped to 2..4 (2 when unknown).
unsigned default_pool_size();

// The process-wide pool. Created on first use with default_pool_size() workers
// unless init_process_pool() sized it first.
ThreadPool& process_pool();
void init_process_pool(unsigned workers);

}  // namespace qm
