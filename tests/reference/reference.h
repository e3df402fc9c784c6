// The literal single-threaded kernels of the fit and the regression, with the
// entry points the program calls: the oracle that the engine's results must match
// bit for bit. They live in their own namespace so that tests can run them beside
// the engine; link.cpp puts them under the engine's names for the reference build
// of the program.
#pragma once

#include "control/model.h"

namespace reference {

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk);
void contribution_step(Model& m, int s);
void profile_step(Model& m, int v);
double regression(Model& m, int v, double* coef, double* se);

// Every record, every variable, in order, one at a time.
void contribution_pass(Model& m);
void profile_pass(Model& m);
void regressions(Model& m, double* chi, double* coef, double* se);

}  // namespace reference
