// The reference build of the program: the engine's entry points answered by the
// literal kernels, so that the same driver runs the oracle end to end.
#include "fit/contribution.h"
#include "fit/matrixinv.h"
#include "fit/profile_step.h"
#include "stats/regression.h"
#include "reference/reference.h"

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk) {
  reference::Matrixinv(a, stride, n, det, ik, jk);
}
void contribution_step(Model& m, int s) { reference::contribution_step(m, s); }
void contribution_pass(Model& m) { reference::contribution_pass(m); }
void profile_step(Model& m, int v) { reference::profile_step(m, v); }
void profile_pass(Model& m) { reference::profile_pass(m); }
double regression(Model& m, int v, double* coef, double* se) { return reference::regression(m, v, coef, se); }
void regressions(Model& m, double* chi, double* coef, double* se) { reference::regressions(m, chi, coef, se); }
