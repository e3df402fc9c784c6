#include "fit/iteration.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <chrono>

#include "engine/engine.h"
#include "fit/fit_monitor.h"
#include "fit/reweighting.h"

FitOutcome run_fit(const Problem& problem, const FitSettings& settings, FitState& state, FitObserver& observer) {
  assert(problem.consistent() && state.fits(problem));
  FitOutcome outcome;
  FitMonitor monitor(settings.converge);
  observer.discard_key();
  state.nfree = 0;
  if (settings.reweighting != nullptr) {
    settings.reweighting->start(problem, state);
  } else {
    state.ueff.clear();
  }
  // Set once a better earlier pass has been put back into the state: the next round runs
  // only the final contribution step, from that pass's starting state.
  bool restored = false;
  for (long pass = 1;; ++pass) {
    bool stop = true;
    if (restored) {
      // The reason and the result's pass are already set.
    } else if (observer.key_pressed()) {
      outcome.reason = StopReason::key;
    } else if (monitor.converged()) {
      outcome.reason = StopReason::converged;
    } else if (settings.passes >= 0 && pass > settings.passes) {
      outcome.reason = StopReason::pass_limit;
    } else if (observer.interrupted()) {
      outcome.reason = StopReason::interrupted;
    } else {
      stop = false;
    }
    if (!restored) monitor.begin_pass(problem, state, pass);

    const auto started = std::chrono::steady_clock::now();
    state.chi2 = 0.0;
    state.nytot = -state.nfree;
    std::fill(state.sum2.begin(), state.sum2.end(), 0.0);
    state.sumsq = 0.0;
    contribution_pass(problem, settings, state);
    // A reweighting rule (robust mode): new weights from these residuals, and the
    // chi2 the passes are then watched by (Q(robust)).
    if (settings.reweighting != nullptr) settings.reweighting->refresh(problem, state);

    if (!restored) {
      if (!std::isfinite(state.chi2)) {
        stop = true;
        outcome.reason = StopReason::diverged;
        outcome.diverged_pass = pass;
        if (!monitor.has_best()) {
          outcome.failed = true;
          return outcome;
        }
      }
      if (stop) outcome.result_pass = pass;
      bool restore = outcome.reason == StopReason::diverged ||
                     (stop && settings.keep_best && monitor.best_beats(state.chi2, state.nytot));
      if (restore) {
        monitor.restore_best(state);
        outcome.result_pass = monitor.best_pass();
        restored = true;
        continue;
      }
    }
    if (stop) break;

    state.nfree = 0;
    profile_pass(problem, settings, state);
    const long long cells = static_cast<long long>(problem.nrec) * problem.nfakt;
    state.sumsq = state.sumsq / static_cast<double>(cells) - 1.0;
    const double ratio = state.chi2 / state.nytot;
    outcome.lines.push_back(PassLine{state.chi2, state.nytot, ratio, state.sumsq});
    outcome.passes = pass;
    outcome.pass_seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    observer.pass_done(outcome.lines.back());
    monitor.end_pass(state.chi2, state.nytot, state.damp);
    if (state.damp > 1) state.damp = state.damp - 1;
  }
  outcome.not_converged = settings.converge > 0 && outcome.reason != StopReason::converged &&
                          outcome.reason != StopReason::diverged;
  observer.fit_done(outcome, state);
  return outcome;
}
