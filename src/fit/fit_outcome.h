// How a fit went: its statistics lines and why and where it stopped.
#pragma once

#include <vector>

// The numbers of one statistics line, in the doubles that were printed.
struct PassLine {
  double chi2 = 0.0;   ///< chi2 of the pass's contribution step (in robust mode Q(robust))
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
  long extrapolations_tried = 0;     ///< with accelerate: extrapolated profiles tried
  std::vector<long> extrapolated;    ///< with accelerate: the passes that started from extrapolated profiles
};
