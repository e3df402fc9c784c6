// Several starts of one fit: the given starting profiles and starts whose free
// elements are scattered around them, or fresh starts built from the data
// (ensemble/fresh_starts.h). Each start is fitted with the same stop rules on one
// thread; the one with the lowest final chi2 is the result.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fit/fit_observer.h"
#include "fit/fit_outcome.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"
#include "control/text_table.h"

// Start `start` (0 is the given start, left unchanged): every free element of p
// (fp nonzero), in order of v and then f, is multiplied by 0.5 + u with u drawn by
// Random(seed, start).uniform(); held elements are not changed and draw nothing.
void perturb_profiles(std::vector<double>& p, const std::vector<int>& fp, std::uint64_t seed, int start);

struct StartResult {
  bool ran = false;            ///< the start was fitted (false: stopped before it began)
  FitOutcome outcome;          ///< how its fit ended
  double chi2 = 0.0;           ///< chi2 of its final contribution step
  int nytot = 0;               ///< degrees of freedom of that step
  std::vector<double> x;       ///< its contributions, nrec x nfakt; empty when it has no result
  std::vector<double> p;       ///< its final profiles, nvar x nfakt; empty when it has no result
};

struct StartsRun {
  std::vector<StartResult> starts;  ///< one per start, in start order
  int best = -1;                    ///< the start with the lowest final chi2 (ties: the lower); -1: none
  FitState best_state;              ///< the fitted state of the best start
  std::vector<double> best_p;       ///< the profiles the best start began from
};

// Fits `count` starts of `problem` over settings.threads worker threads, each fit
// on one thread. As each start finishes, one line per start is handed to `print`
// in start order, e.g.
//   "Start 2 of 5: chi2 1756.83; Stopped: converged after 818 passes; ..."
// A start whose fit has no result is counted and reported, and a key or an
// interrupt (as `observer` tells them) stops every start (starts not yet begun are
// not run).
StartsRun run_starts(const Problem& problem, const FitSettings& settings, FitObserver& observer, int count,
                     std::uint64_t seed, const std::function<void(const std::string&)>& print);

// Sets p (nvar x nfakt, holding the given starting profiles) to the profiles start
// `start` begins from. Called on the worker threads, so it must be safe to call
// from several at once.
using StartProfiles = std::function<void(std::vector<double>& p, int start)>;

// As above, with the profiles of every start made by `profiles`.
StartsRun run_starts(const Problem& problem, const FitSettings& settings, FitObserver& observer, int count,
                     const StartProfiles& profiles, const std::function<void(const std::string&)>& print);

// The console line after the starts: the best start and the counts.
std::string best_start_line(const StartsRun& run);

// The table of the starts: per start its number, passes, stop reason, chi2 and
// chi2/ny, and for each factor of the best start the correlation of its
// contributions with the best-matching factor of that start; then how stable the
// answer is (ensemble/stability.h): chi2's excess over the best in per cent,
// whether the start reproduced the best start, and per factor of the best start
// the correlations of profiles and of contributions with the factor of that start
// matched to it one to one.
TextTable starts_table(const Problem& problem, const StartsRun& run);
