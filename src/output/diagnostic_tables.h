// The diagnostic tables of the report folder, as tab-separated text with numbers
// in the result table's "%lg" form.
#pragma once

#include <string>

#include "model/fit_state.h"
#include "model/problem.h"
#include "stats/diagnostics.h"
#include "stats/regression.h"

// variables.tsv: per variable its counts, chi2, ny, chi2/ny, scaled residuals
// beyond +-3 (count and share), observed and fitted mean, R2, slope and intercept
// of fitted against observed, and the regression coefficients with their standard
// errors as the result table holds them; in robust mode, last, the count of its
// down-weighted values (alpha: robust mode's threshold, 0 when off).
std::string variables_table(const Problem& problem, const FitState& state, const Diagnostics& d, const RegressionTable& regression,
                            double alpha);

// records.tsv: per record its identifier, measured count, chi2, the largest scaled
// residual and its variable, and the residue contribution; in robust mode, last,
// the count of its down-weighted values.
std::string records_table(const Problem& problem, const FitState& state, const Diagnostics& d, double alpha);
