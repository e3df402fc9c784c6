#include "parallel/workers.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

void run_on_threads(int threads, const std::function<void(int)>& body) {
  // An exception in any thread (out of memory, say) is carried to the caller
  // after every thread has ended, so that it reaches main like any other failure
  // instead of ending the process with a joinable thread left behind.
  std::exception_ptr first;
  std::mutex guard;
  auto run = [&](int t) {
    try {
      body(t);
    } catch (...) {
      std::lock_guard<std::mutex> lock(guard);
      if (!first) first = std::current_exception();
    }
  };
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
    for (int t = 1; t < threads; ++t) helpers.emplace_back(run, t);
  } catch (...) {
    for (std::thread& helper : helpers) helper.join();
    throw;
  }
  run(0);
  for (std::thread& helper : helpers) helper.join();
  if (first) std::rethrow_exception(first);
}

int threads_for(double work, int threads) {
  constexpr double kWorkPerThread = 4e6;
  const double worth = work / kWorkPerThread;
  if (worth < 2.0) return 1;
  return std::max(1, std::min(threads, static_cast<int>(worth)));
}
