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
  next_index_ = 0;
  finished_ = 0;
  job_error_ = nullptr;
  work_ready_.notify_all();
  work_done_.wait(lock, [&] { return finished_ == job_count_; });
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
  for (;;) {
    work_ready_.wait(lock, [&] { return stopping_ || (job_ && next_index_ < job_count_); });
    if (stopping_) return;
    // Items are handed out one by one so a slow item never holds back a whole share.
    while (job_ && next_index_ < job_count_) {
      const std::size_t index = next_index_++;
      const auto* job = job_;
      lock.unlock();
      std::exception_ptr error;
      try {
        (*job)(index);
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      if (error && !job_error_) job_error_ = error;
      if (++finished_ == job_count_) work_done_.notify_all();
    }
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
