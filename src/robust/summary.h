// What robust mode did to a fit, from its final state: chi2 with the plain and
// with the robust uncertainties, and how many values were down-weighted, over
// all, per variable and per record. For the closing line and the run's reports.
#pragma once

#include <string>
#include <vector>

#include "model/fit_state.h"
#include "model/problem.h"

struct RobustSummary {
  double alpha = 0.0;             ///< the scaled residual beyond which values are down-weighted
  double q_true = 0.0;            ///< Q(true): chi2 of the final residuals with the plain uncertainties usik
  double q_robust = 0.0;          ///< Q(robust) of the final residuals (the fit's chi2), see robust/weights.h
  long long measured = 0;         ///< values with an uncertainty above 0
  long long down = 0;             ///< of them, those whose |dy / u| exceeds alpha
  std::vector<int> variable_measured;  ///< per variable, nvar
  std::vector<int> variable_down;      ///< per variable, nvar
  std::vector<int> record_measured;    ///< per record, nrec
  std::vector<int> record_down;        ///< per record, nrec

  // down / measured; 0 when nothing is measured.
  double share() const;
};

// The summary of the fit's latest contribution step, refreshed by refresh_robust.
// q_robust is summed as refresh_robust sums it, so it equals state.chi2; q_true runs
// over the measured values one at a time, record by record, with the terms
// dy * dy / u / u, as the contribution step adds its chi2: it is the chi2 a plain
// fit of the same residuals would print.
RobustSummary summarize_robust(const Problem& problem, const FitState& state, double alpha);

// The line printed after the closing line of a robust fit, for example
// "Robust (alpha 4): Q(true) 2480.31, Q(robust) 1756.83; 37 of 5434 values down-weighted (0.68 %).\n"
std::string robust_line(const RobustSummary& summary);
