// The result table: contributions per record, the final profiles with the residue
// profile, chi-square per variable and the regression analysis, tab-separated.
#pragma once

#include <cstdio>

#include "model/fit_state.h"
#include "model/problem.h"
#include "stats/regression.h"

// Writes the whole result table to `out`, with the regression columns from
// `regression` (regression_table(problem, state, 1)). `rotate_arg` is the rotate argument as
// typed, or null when none was given.
void write_result(const Problem& problem, const FitState& state, std::FILE* out, const char* rotate_arg, const RegressionTable& regression);

// The same, computing the regression first.
void write_result(const Problem& problem, const FitState& state, std::FILE* out, const char* rotate_arg);
