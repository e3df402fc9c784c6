// Many fits of one run (starts, bootstrap replicates) spread over worker threads,
// each fit on one thread, and one observer's stop shared by all of them.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "fit/fit_observer.h"

// The run's observer as every fit of an ensemble sees it: once a key has been
// noticed, it stays pressed for every fit, so one key stops them all. Safe to call
// from several threads. Passes and ends of the single fits are not passed on: the
// ensemble reports its fits itself. A key pressed before the fits is discarded
// once, by discard_key_before_fits; the fits' own discards do nothing, so the key
// that stopped the fits stays noticed.
class SharedStop : public FitObserver {
 public:
  explicit SharedStop(FitObserver& observer) : observer_(observer) {}
  void discard_key_before_fits() { observer_.discard_key(); }
  bool key_pressed() override;
  bool interrupted() override;
  // True once a key has been noticed or an interrupt asked the fit to stop.
  bool stopped();

 private:
  FitObserver& observer_;
  std::mutex mutex_;
  std::atomic<bool> pressed_{false};
};

// Calls fit(i) for i = 0 .. count - 1 on up to `threads` threads; each thread takes
// the next index when its fit is done. Once stop.stopped(), no further fit is
// begun. Returns how many fits were begun (the indexes 0 .. that - 1 when one
// thread runs; with several, every index below the count returned). A key waiting
// before the fits should be discarded first, or it stops every fit at once. An
// exception thrown by a fit is thrown again here once every thread has finished.
int run_fits(int count, int threads, SharedStop& stop, const std::function<void(int)>& fit);
