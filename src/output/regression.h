// The per-variable regression check of the fitted profiles written beside them in
// the result table.
#pragma once

#include "control/model.h"

// For variable v: returns its chi-square and stores in coef[f] and se[f] the
// weighted regression coefficients of the measured values on the final
// contributions of every factor, and their standard errors. Every weight is divided
// by the variable's reduced chi-square.
double regression(Model& m, int v, double* coef, double* se);

// The regression of every variable, on m.threads threads: chi[v] and the rows
// coef[v * nfakt + f], se[v * nfakt + f], exactly as regression(m, v, ...) gives them.
void regressions(Model& m, double* chi, double* coef, double* se);
