// The per-variable regression check of the fitted profiles written beside them in
// the result table.
#pragma once

#include <vector>

#include "control/model.h"

// For variable v: returns its chi-square and stores in coef[f] and se[f] the
// weighted regression coefficients of the measured values on the final
// contributions of every factor, and their standard errors. Every weight is divided
// by the variable's reduced chi-square.
double regression(Model& m, int v, double* coef, double* se);

// The regression of every variable, on m.threads threads: chi[v] and the rows
// coef[v * nfakt + f], se[v * nfakt + f], exactly as regression(m, v, ...) gives them.
void regressions(Model& m, double* chi, double* coef, double* se);

// The regression of every variable as the result table prints it.
struct RegressionTable {
  std::vector<double> chi;   ///< chi-square per variable, nvar
  std::vector<double> coef;  ///< coefficients, nvar x nfakt, coef[v * nfakt + f]
  std::vector<double> se;    ///< standard errors of coef, nvar x nfakt
};

// regressions(m, ...) into a table sized for m.
RegressionTable regression_table(Model& m);
