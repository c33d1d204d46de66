#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace qm {

// The name every worker thread carries.
inline constexpr const char* kWorkerThreadName = "qm-worker";

// A fixed set of worker threads that runs parallel maps. The calling thread is
// not a worker: it hands the work over and waits until every item is done.
class ThreadPool {
 public:
  // Returns once every worker thread is running; throws std::system_error when
  // a thread cannot be started (the ones already started are stopped first).
  explicit ThreadPool(unsigned workers);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  unsigned size() const { return static_cast<unsigned>(workers_.size()); }

  // Calls fn(i) for every i in [0, count) on the workers and returns when all are
  // done. One map runs at a time; a call made from inside a worker runs inline.
  // If items throw, every item still runs and the first exception is rethrown here.
  void for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn);

  // Maps fn over items on the workers; the results come back in item order.
  template <class Item, class Fn>
  auto map(const std::vector<Item>& items, Fn&& fn) {
    using Out = std::decay_t<std::invoke_result_t<Fn&, const Item&>>;
    // vector<bool> packs bits, so concurrent writes to neighbours would race;
    // results without a default value cannot be preallocated.
    if constexpr (std::is_default_constructible_v<Out> && !std::is_same_v<Out, bool>) {
      std::vector<Out> results(items.size());
      for_each_index(items.size(), [&](std::size_t i) { results[i] = fn(items[i]); });
      return results;
    } else {
      std::vector<std::optional<Out>> slots(items.size());
      for_each_index(items.size(), [&](std::size_t i) { slots[i].emplace(fn(items[i])); });
      std::vector<Out> results;
      results.reserve(slots.size());
      for (auto& slot : slots) results.push_back(std::move(*slot));
      return results;
    }
  }

 private:
  void worker_loop();
  void stop_workers();

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::mutex map_mutex_;  // one map at a time
  std::condition_variable work_ready_;
  std::condition_variable work_done_;
  // The map in progress. Items are taken by counting next_index_ up without
  // the lock; a worker holds the lock only to join a map and to leave it.
  const std::function<void(std::size_t)>* job_ = nullptr;
  std::size_t job_count_ = 0;
  std::uint64_t generation_ = 0;  // maps started so far
  std::atomic<std::size_t> next_index_{0};
  unsigned active_ = 0;  // workers inside the current map
  std::exception_ptr job_error_;
  unsigned running_ = 0;  // workers that have entered their loop
  bool stopping_ = false;
};

// Pool size for this machine: online processors clamped to 2..4 (2 when unknown).
unsigned default_pool_size();

// The process-wide pool. Created on first use with default_pool_size() workers
// unless init_process_pool() sized it first.
ThreadPool& process_pool();
void init_process_pool(unsigned workers);

}  // namespace qm
