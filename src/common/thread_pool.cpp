#include "common/thread_pool.h"

#include <pthread.h>
#include <unistd.h>

#include <memory>

namespace qm {
namespace {
thread_local bool t_inside_worker = false;
std::unique_ptr<ThreadPool> g_pool;
std::once_flag g_pool_once;
}  // namespace

ThreadPool::ThreadPool(unsigned workers) {
  workers_.reserve(workers);
  try {
    for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { worker_loop(); });
  } catch (...) {
    stop_workers();
    throw;
  }
  std::unique_lock lock(mutex_);
  work_done_.wait(lock, [&] { return running_ == workers_.size(); });
}

ThreadPool::~ThreadPool() { stop_workers(); }

void ThreadPool::stop_workers() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (auto& worker : workers_) worker.join();
  workers_.clear();
}

void ThreadPool::for_each_index(std::size_t count, const std::function<void(std::size_t)>& fn) {
  if (count == 0) return;
  if (t_inside_worker || workers_.empty()) {
    for (std::size_t i = 0; i < count; ++i) fn(i);
    return;
  }
  std::lock_guard map_lock(map_mutex_);
  std::unique_lock lock(mutex_);
  job_ = &fn;
  job_count_ = count;
  next_index_.store(0, std::memory_order_relaxed);
  job_error_ = nullptr;
  ++generation_;
  work_ready_.notify_all();
  // Done once every item is taken and no worker is still inside the map: a
  // worker leaves only after the items it took have run.
  work_done_.wait(lock, [&] { return next_index_.load(std::memory_order_relaxed) >= job_count_ && active_ == 0; });
  job_ = nullptr;
  if (job_error_) std::rethrow_exception(std::exchange(job_error_, nullptr));
}

void ThreadPool::worker_loop() {
  t_inside_worker = true;
  // Named so that a look at the process (ps, a debugger) tells the workers apart.
#if defined(__APPLE__)
  pthread_setname_np(kWorkerThreadName);
#else
  pthread_setname_np(pthread_self(), kWorkerThreadName);
#endif
  std::unique_lock lock(mutex_);
  ++running_;
  work_done_.notify_all();
  std::uint64_t joined = generation_;
  for (;;) {
    work_ready_.wait(lock, [&] { return stopping_ || (job_ && generation_ != joined); });
    if (stopping_) return;
    joined = generation_;
    const auto* job = job_;
    const std::size_t count = job_count_;
    ++active_;
    lock.unlock();
    // Items are taken one by one so a slow item never holds back a whole share.
    for (;;) {
      const std::size_t index = next_index_.fetch_add(1, std::memory_order_relaxed);
      if (index >= count) break;
      try {
        (*job)(index);
      } catch (...) {
        const std::lock_guard error_lock(mutex_);
        if (!job_error_) job_error_ = std::current_exception();
      }
    }
    lock.lock();
    if (--active_ == 0) work_done_.notify_all();
  }
}

unsigned default_pool_size() {
  // sysconf gives -1 when the count is unknown.
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  if (online <= 2) return 2;
  if (online >= 4) return 4;
  return static_cast<unsigned>(online);
}

void init_process_pool(unsigned workers) {
  std::call_once(g_pool_once, [&] { g_pool = std::make_unique<ThreadPool>(workers); });
}

ThreadPool& process_pool() {
  init_process_pool(default_pool_size());
  return *g_pool;
}

}  // namespace qm
