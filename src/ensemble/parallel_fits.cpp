#include "ensemble/parallel_fits.h"

#include <algorithm>
#include <exception>

#include "parallel/workers.h"

bool SharedStop::key_pressed() {
  if (pressed_.load()) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pressed_.load() && observer_.key_pressed()) pressed_.store(true);
  return pressed_.load();
}

bool SharedStop::interrupted() {
  std::lock_guard<std::mutex> lock(mutex_);
  return observer_.interrupted();
}

bool SharedStop::stopped() { return interrupted() || key_pressed(); }

int run_fits(int count, int threads, SharedStop& stop, const std::function<void(int)>& fit) {
  std::atomic<int> next{0};
  std::atomic<int> begun{0};
  std::mutex error_mutex;
  std::exception_ptr error;
  const int workers = std::max(1, std::min(threads, count));
  run_on_threads(workers, [&](int) {
    for (;;) {
      if (stop.stopped()) return;
      const int i = next.fetch_add(1);
      if (i >= count) return;
      begun.fetch_add(1);
      try {
        fit(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(error_mutex);
        if (!error) error = std::current_exception();
        return;
      }
    }
  });
  if (error) std::rethrow_exception(error);
  return std::min(begun.load(), count);
}
