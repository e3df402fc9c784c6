// Many fits of one run (starts, bootstrap replicates) spread over worker threads,
// each fit on one thread, and one keyboard shared by all of them.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "platform/keyboard.h"

// The run's keyboard as every fit of an ensemble sees it: once a key has been
// noticed, it stays pressed for every fit, so one key stops them all. Safe to call
// from several threads. Reading a key does nothing: the key that stopped the fits
// stays unread (the console keyboard discards it when it is closed).
class SharedKeyboard : public Keyboard {
 public:
  explicit SharedKeyboard(Keyboard& keyboard) : keyboard_(keyboard) {}
  bool key_waiting() override;
  void read_key() override {}
  // True once a key has been noticed or an interrupt asked the fit to stop.
  bool stopped();

 private:
  Keyboard& keyboard_;
  std::mutex mutex_;
  std::atomic<bool> pressed_{false};
};

// Calls fit(i) for i = 0 .. count - 1 on up to `threads` threads; each thread takes
// the next index when its fit is done. Once keyboard.stopped(), no further fit is
// begun. Returns how many fits were begun (the indexes 0 .. that - 1 when one
// thread runs; with several, every index below the count returned). A key waiting
// before the fits should be read first, or it stops every fit at once. An exception
// thrown by a fit is thrown again here once every thread has finished.
int run_fits(int count, int threads, SharedKeyboard& keyboard, const std::function<void(int)>& fit);
