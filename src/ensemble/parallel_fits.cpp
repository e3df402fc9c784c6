#include "ensemble/parallel_fits.h"

#include <algorithm>
#include <exception>

#include "fit/workers.h"
#include "platform/signals.h"

bool SharedKeyboard::key_waiting() {
  if (pressed_.load()) return true;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pressed_.load() && keyboard_.key_waiting()) pressed_.store(true);
  return pressed_.load();
}

bool SharedKeyboard::stopped() { return stop_requested() || key_waiting(); }

int run_fits(int count, int threads, SharedKeyboard& keyboard, const std::function<void(int)>& fit) {
  std::atomic<int> next{0};
  std::atomic<int> begun{0};
  std::mutex error_mutex;
  std::exception_ptr error;
  const int workers = std::max(1, std::min(threads, count));
  run_on_threads(workers, [&](int) {
    for (;;) {
      if (keyboard.stopped()) return;
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
