#include "fit/iteration.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <chrono>
#include <memory>

#include "engine/engine.h"
#include "fit/extrapolation.h"
#include "fit/fit_monitor.h"
#include "fit/held_contributions.h"
#include "fit/reweighting.h"

namespace {

// The contribution step of a pass from state.p, its totals from zero; with held
// elements (`held` not null) the step that keeps their values; with a
// reweighting rule (robust mode) new weights from its residuals, and the chi2 the
// passes are then watched by (Q(robust)).
void contribution_step_of_pass(const Problem& problem, const FitSettings& settings, FitState& state,
                               HeldContributions* held) {
  state.chi2 = 0.0;
  state.nytot = -state.nfree;
  std::fill(state.sum2.begin(), state.sum2.end(), 0.0);
  state.sumsq = 0.0;
  if (held == nullptr || !held->step(problem, state)) contribution_pass(problem, settings, state);
  if (settings.reweighting != nullptr) settings.reweighting->refresh(problem, state);
}

// With --accelerate, at the start of a pass that runs both its steps: when a try
// is due, the contribution step from extrapolated profiles runs in *trial (a state
// that starts as a copy of this pass's), and when its chi2 is lower than that of
// the ordinary contribution step, already in `state`, the two are exchanged: the
// pass goes on from the extrapolated profiles.
void try_extrapolation(const Problem& problem, const FitSettings& settings, FitState& state, FitState* trial,
                       const std::vector<double>& pushed, FitMonitor& monitor,
                       FitOutcome& outcome, long pass, HeldContributions* held) {
  ++outcome.extrapolations_tried;
  trial->p.assign(pushed.begin(), pushed.end());
  trial->ny.assign(state.ny.begin(), state.ny.end());
  trial->nfree = state.nfree;
  trial->damp = state.damp;
  contribution_step_of_pass(problem, settings, *trial, held);
  if (trial->chi2 < state.chi2) {
    std::swap(state, *trial);
    monitor.moved_start(state.p);
    outcome.extrapolated.push_back(pass);
  }
}

// Sets every held element to its value (before pass 1).
void set_held_elements(const Problem& problem, const FitSettings& settings, FitState& state) {
  for (const HeldElement& held : settings.holds) {
    const auto e = static_cast<std::size_t>(held.variable) * static_cast<std::size_t>(problem.nfakt) +
                   static_cast<std::size_t>(held.factor);
    assert(problem.fp[e] == 0);
    state.p[e] = held.value;
  }
}

// Before the profile step: with the contributions of the pass (factor f's mean
// sum2[f] / nrec), sets every held element to its value over its factor's mean
// contribution, so that element times mean contribution is the value for these
// contributions, and moves the residuals of its variable by what that change
// takes off the fitted values, so that the free elements are corrected for the
// element at its held value. The profile step's rescaling by the mean
// contribution then brings the element back to the value.
void hold_for_profile_step(const Problem& problem, const FitSettings& settings, FitState& state) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  for (const HeldElement& held : settings.holds) {
    const auto f = static_cast<std::size_t>(held.factor);
    const auto v = static_cast<std::size_t>(held.variable);
    const double mean = state.sum2[f] / problem.nrec;
    if (!(mean > 0)) continue;
    const double target = held.value / mean;
    const double shift = target - state.p[v * nfakt + f];
    for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
      const double moved = static_cast<double>(state.dy[s * nvar + v]) - state.x[s * nfakt + f] * shift;
      state.dy[s * nvar + v] = static_cast<float>(moved);  // residuals are stored as float
    }
    state.p[v * nfakt + f] = target;
  }
}

}  // namespace

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
  set_held_elements(problem, settings, state);
  std::unique_ptr<HeldContributions> held;
  if (!settings.holds.empty()) held = std::make_unique<HeldContributions>(problem, settings.holds);
  // Set once a better earlier pass has been put back into the state: the next round runs
  // only the final contribution step, from that pass's starting state.
  bool restored = false;
  // --accelerate: the extrapolation's memory, its pushed profiles and the state
  // its contribution steps run in.
  Extrapolation extrapolation;
  std::vector<double> pushed;
  FitState trial;
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
    const bool try_push = settings.accelerate && !restored && !stop && extrapolation.propose(problem, state, &pushed);
    if (try_push) {
      if (trial.p.empty()) trial = state;
      // The weights the ordinary contribution step runs with, before it refreshes them.
      trial.ueff.assign(state.ueff.begin(), state.ueff.end());
    }
    contribution_step_of_pass(problem, settings, state, held.get());
    if (try_push) try_extrapolation(problem, settings, state, &trial, pushed, monitor, outcome, pass, held.get());
    if (settings.accelerate && !restored) extrapolation.started(state);

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
    hold_for_profile_step(problem, settings, state);
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
