// The alternating fit: passes of contribution step and profile step, one line of
// statistics per pass, until a key press (or a pass limit, convergence, an
// interrupt, or divergence).
#pragma once

#include <cstdio>
#include <vector>

#include "control/model.h"
#include "platform/keyboard.h"

struct FitOptions {
  long passes = -1;         ///< stop as if a key had been noticed at the start of pass passes + 1; -1: no limit
  double converge = 0.0;    ///< stop once chi2 and the profiles have settled to this relative change; 0: never
  bool keep_best = false;   ///< on any stop, write the result of the best pass seen
  bool report_stop = false; ///< print the closing line on every stop (always printed after divergence)
};

// The numbers of one statistics line, in the doubles that were printed.
struct PassLine {
  double chi2 = 0.0;   ///< sum of squared weighted residuals of the pass's contribution step
  int nytot = 0;       ///< degrees of freedom of the pass
  double ratio = 0.0;  ///< chi2 / nytot, the first printed number
  double sumsq = 0.0;  ///< mean squared contribution less one, the third printed number
};

enum class StopReason { key, pass_limit, interrupted, converged, diverged };

struct FitOutcome {
  StopReason reason = StopReason::key;
  long passes = 0;          ///< statistics lines printed
  long result_pass = 0;     ///< the pass whose starting state the result is the fit of
  long diverged_pass = 0;   ///< the pass whose chi2 was not finite; 0 when none was
  bool not_converged = false;  ///< a convergence stop was asked for, but another stop came first
  bool failed = false;      ///< diverged before any pass had a finite chi2/ny: there is no result
  std::vector<double> pass_seconds;  ///< wall time of each full pass, in seconds
  std::vector<PassLine> lines;       ///< the statistics line of each pass, in order
};

// Runs the fit on m, printing the statistics lines to `console`. The pass in which
// the stop is noticed runs only its contribution step, so the final contributions
// and residuals belong to the final profiles; chi2 and nytot are its totals.
//
// A contribution step whose chi2 is not finite ends the fit at once: the state
// of the pass with the lowest chi2 (the earliest of equals) is restored and the
// final contribution step runs from it, so the result is that of a fit stopped at
// the start of that pass. When no pass had a finite chi2 yet, the fit returns at
// once with `failed` set and prints no closing line: there is no result.
// With keep_best, every stop restores that best pass in the same way, unless the
// final contribution step has a lower chi2.
// A null console prints nothing.
FitOutcome run_fit(Model& m, Keyboard& keyboard, const FitOptions& options, std::FILE* console);

// Fails with the message of a fit that has no result, when `outcome` is one.
void fail_without_result(const FitOutcome& outcome);
