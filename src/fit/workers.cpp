#include "fit/workers.h"

#include <algorithm>
#include <thread>
#include <vector>

void run_on_threads(int threads, const std::function<void(int)>& body) {
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
  for (int t = 1; t < threads; ++t) helpers.emplace_back(body, t);
  body(0);
  for (std::thread& helper : helpers) helper.join();
}

int threads_for(double work, int threads) {
  constexpr double kWorkPerThread = 4e6;
  const double worth = work / kWorkPerThread;
  if (worth < 2.0) return 1;
  return std::max(1, std::min(threads, static_cast<int>(worth)));
}
