// The per-variable regression check of the fitted profiles, as the result table
// prints it beside them (the kernels are the engine's regression and regressions).
#pragma once

#include <vector>

#include "model/fit_state.h"
#include "model/problem.h"

// The regression of every variable as the result table prints it.
struct RegressionTable {
  std::vector<double> chi;   ///< chi-square per variable, nvar
  std::vector<double> coef;  ///< coefficients, nvar x nfakt, coef[v * nfakt + f]
  std::vector<double> se;    ///< standard errors of coef, nvar x nfakt
};

// regressions(problem, state, threads, ...) into a table sized for the problem.
RegressionTable regression_table(const Problem& problem, const FitState& state, int threads);
