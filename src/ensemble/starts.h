// Several starts of one fit: the given starting profiles and starts whose free
// elements are scattered around them. Each start is fitted with the same stop
// rules on one thread; the one with the lowest final chi2 is the result.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "control/model.h"
#include "fit/iteration.h"
#include "platform/keyboard.h"

// Start `start` (0 is the given start, left unchanged): every free element of p
// (fp nonzero), in order of v and then f, is multiplied by 0.5 + u with u drawn by
// Random(seed, start).uniform(); held elements are not changed and draw nothing.
void perturb_profiles(Model& m, std::uint64_t seed, int start);

struct StartResult {
  bool ran = false;            ///< the start was fitted (false: stopped before it began)
  FitOutcome outcome;          ///< how its fit ended
  double chi2 = 0.0;           ///< chi2 of its final contribution step
  int nytot = 0;               ///< degrees of freedom of that step
  std::vector<double> x;       ///< its contributions, nrec x nfakt; empty when it has no result
};

struct StartsRun {
  std::vector<StartResult> starts;  ///< one per start, in start order
  int best = -1;                    ///< the start with the lowest final chi2 (ties: the lower); -1: none
  Model best_model;                 ///< the fitted model of the best start
  std::vector<double> best_p;       ///< the profiles the best start began from
};

// Fits `count` starts of m (the model as read, with its thread count) over
// m.threads worker threads, each fit on one thread and silent. As each start
// finishes, one line per start is printed to `console` in start order, e.g.
//   "Start 2 of 5: chi2 1756.83; Stopped: converged after 818 passes; ..."
// A start whose fit has no result is counted and reported, and a key or an
// interrupt stops every start (starts not yet begun are not run).
StartsRun run_starts(const Model& m, Keyboard& keyboard, const FitOptions& options, int count, std::uint64_t seed,
                     std::FILE* console);

// The console line after the starts: the best start and the counts.
std::string best_start_line(const StartsRun& run);

// The text of starts.tsv: per start its number, passes, stop reason, chi2 and
// chi2/ny, and for each factor of the best start the correlation of its
// contributions with the best-matching factor of that start.
std::string starts_table(const Model& m, const StartsRun& run);

// A profile file holding the names of m and the profiles p (as many digits as
// make them read back exactly): a run from it fits the same start again.
std::string profile_text(const Model& m, const std::vector<double>& p);
