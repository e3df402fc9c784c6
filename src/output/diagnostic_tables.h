// The diagnostic tables of the report folder, as cells with numbers in the result
// table's "%lg" form.
#pragma once

#include "model/fit_state.h"
#include "model/problem.h"
#include "control/text_table.h"
#include "stats/diagnostics.h"
#include "stats/regression.h"

// Per variable its counts, chi2, ny, chi2/ny, scaled residuals beyond +-3 (count
// and share), observed and fitted mean, R2, slope and intercept of fitted against
// observed, and the regression coefficients with their standard errors as the
// result table holds them; in robust mode, last, the count of its down-weighted
// values.
TextTable variables_table(const Problem& problem, const FitState& state, const Diagnostics& d,
                          const RegressionTable& regression, double alpha);

// Per record its identifier, measured count, chi2, the largest scaled residual and
// its variable, and the residue contribution; in robust mode, last, the count of
// its down-weighted values.
TextTable records_table(const Problem& problem, const FitState& state, const Diagnostics& d, double alpha);
