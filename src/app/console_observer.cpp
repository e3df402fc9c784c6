#include "app/console_observer.h"

#include "fit/stop_line.h"
#include "platform/signals.h"

void ConsoleObserver::discard_key() {
  if (keyboard_.key_waiting()) keyboard_.read_key();
}

bool ConsoleObserver::interrupted() { return stop_requested(); }

void ConsoleObserver::pass_done(const PassLine& line) {
  if (console_ == nullptr) return;
  std::fprintf(console_, "%lg\t%d\t%lg\n", line.ratio, line.nytot, line.sumsq);
  std::fflush(console_);
}

void ConsoleObserver::fit_done(const FitOutcome& outcome, const FitState& state) {
  if (console_ == nullptr || !(closing_line_ || outcome.reason == StopReason::diverged)) return;
  std::string line = stop_line(outcome, state.chi2, state.nytot);
  if (!closing_note_.empty()) line.insert(line.size() - 2, "; " + closing_note_);
  std::fputs(line.c_str(), console_);
  std::fflush(console_);
}
