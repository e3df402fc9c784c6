#include "fit/workers.h"

#include <thread>
#include <vector>

void run_on_threads(int threads, const std::function<void(int)>& body) {
  std::vector<std::thread> helpers;
  helpers.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
  for (int t = 1; t < threads; ++t) helpers.emplace_back(body, t);
  body(0);
  for (std::thread& helper : helpers) helper.join();
}
