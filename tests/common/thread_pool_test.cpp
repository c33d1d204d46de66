#include "common/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/result.h"

namespace qm {
namespace {

TEST(ThreadPool, MapReturnsResultsInItemOrder) {
  ThreadPool pool(4);
  std::vector<int> items(2000);
  for (int i = 0; i < 2000; ++i) items[static_cast<std::size_t>(i)] = i;
  const std::vector<std::string> results = pool.map(items, [](int i) {
    std::string s;
    for (int k = 0; k < (i % 7) * 50; ++k) s += static_cast<char>('a' + k % 26);  // uneven work
    return std::to_string(i) + ":" + std::to_string(s.size());
  });
  ASSERT_EQ(results.size(), items.size());
  for (int i = 0; i < 2000; ++i) {
    EXPECT_EQ(results[static_cast<std::size_t>(i)], std::to_string(i) + ":" + std::to_string((i % 7) * 50));
  }
}

TEST(ThreadPool, MapOfBooleansAndOfValuesWithoutADefaultIsRaceFreeAndOrdered) {
  ThreadPool pool(3);
  std::vector<int> items(4096);
  for (std::size_t i = 0; i < items.size(); ++i) items[i] = static_cast<int>(i);
  // Neighbouring bools share a word in vector<bool>; written from several threads
  // they would race (caught under ThreadSanitizer) and lose bits.
  const std::vector<bool> odd = pool.map(items, [](int i) { return i % 2 == 1; });
  ASSERT_EQ(odd.size(), items.size());
  for (std::size_t i = 0; i < odd.size(); ++i) EXPECT_EQ(odd[i], i % 2 == 1) << i;

  const std::vector<Result<int>> results = pool.map(items, [](int i) -> Result<int> {
    if (i % 3 == 0) return CommandError{"no " + std::to_string(i)};
    return i * 2;
  });
  ASSERT_EQ(results.size(), items.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    if (i % 3 == 0) {
      EXPECT_EQ(results[i].error(), "no " + std::to_string(i));
    } else {
      EXPECT_EQ(results[i].value(), static_cast<int>(i) * 2);
    }
  }
}

TEST(ThreadPool, TheCallingThreadIsNotAWorkerAndAllWorkersRunAtOnce) {
  constexpr unsigned kWorkers = 4;
  ThreadPool pool(kWorkers);
  EXPECT_EQ(pool.size(), kWorkers);
  std::latch all_inside(kWorkers);
  std::mutex lock;
  std::set<std::thread::id> threads;
  // Each item waits for the others: this only completes if every worker takes one.
  pool.for_each_index(kWorkers, [&](std::size_t) {
    {
      std::lock_guard guard(lock);
      threads.insert(std::this_thread::get_id());
    }
    all_inside.arrive_and_wait();
  });
  EXPECT_EQ(threads.size(), kWorkers);
  EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(ThreadPool, ANestedCallFromAWorkerRunsInlineOnThatWorker) {
  ThreadPool pool(2);
  std::atomic<int> mismatches{0};
  std::atomic<int> inner_calls{0};
  pool.for_each_index(8, [&](std::size_t) {
    const auto outer = std::this_thread::get_id();
    pool.for_each_index(5, [&](std::size_t) {
      if (std::this_thread::get_id() != outer) ++mismatches;
      ++inner_calls;
    });
  });
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(inner_calls.load(), 40);
}

TEST(ThreadPool, MapsFromSeveralThreadsRunOneAtATimeWithCorrectResults) {
  ThreadPool pool(2);
  std::vector<int> items(500);
  for (std::size_t i = 0; i < items.size(); ++i) items[i] = static_cast<int>(i);
  std::vector<std::thread> callers;
  std::atomic<int> wrong{0};
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([&, c] {
      for (int round = 0; round < 20; ++round) {
        const auto results = pool.map(items, [c](int i) { return i * 10 + c; });
        for (std::size_t i = 0; i < results.size(); ++i) {
          if (results[i] != static_cast<int>(i) * 10 + c) ++wrong;
        }
      }
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(ThreadPool, AThrowingItemDoesNotStopTheOthersAndIsRethrownToTheCaller) {
  ThreadPool pool(3);
  std::atomic<int> ran{0};
  EXPECT_THROW(pool.for_each_index(50,
                                   [&](std::size_t i) {
                                     ++ran;
                                     if (i == 10) throw std::runtime_error("item 10");
                                   }),
               std::runtime_error);
  EXPECT_EQ(ran.load(), 50);
  // The pool still works afterwards.
  std::atomic<int> after{0};
  pool.for_each_index(10, [&](std::size_t) { ++after; });
  EXPECT_EQ(after.load(), 10);
}

TEST(ThreadPool, AnEmptyMapAndAPoolWithoutWorkersAreFine) {
  ThreadPool none(0);
  const std::vector<int> results = none.map(std::vector<int>{1, 2, 3}, [](int i) { return i + 1; });
  EXPECT_EQ(results, (std::vector<int>{2, 3, 4}));
  ThreadPool pool(2);
  EXPECT_TRUE(pool.map(std::vector<int>{}, [](int i) { return i; }).empty());
}

}  // namespace
}  // namespace qm
