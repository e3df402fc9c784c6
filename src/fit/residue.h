// The residue factor: what the fitted model leaves unexplained, condensed into one
// extra profile r and one contribution t per record.
#pragma once

#include "model/fit_state.h"
#include "model/problem.h"

// Fills r and t from the residuals dy of the final contribution step. When no
// variable has a positive weighted residual sum (a perfect fit, or nothing
// measured), there is no residue: r and t are all zero. A record with nothing
// measured, or measured only where r is 0, gets t = 0 and is left out of the
// normalisation of the others.
void residue(const Problem& problem, FitState& state);
