#pragma once
// Threads that start together, for the concurrency tests.

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace testing_support {

constexpr int kThreads = 8;

// Runs body(0..n-1) in n threads that start together, so that their opens
// overlap.
inline void RunTogether(int n, const std::function<void(int)>& body) {
  std::atomic<int> waiting{n};
  std::vector<std::thread> threads;
  for (int t = 0; t < n; ++t) {
    threads.emplace_back([&, t] {
      --waiting;
      while (waiting.load() > 0) std::this_thread::yield();
      body(t);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace testing_support
