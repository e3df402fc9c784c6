// The reference engine: the engine's entry points answered by the literal
// kernels, so that the same program runs the oracle end to end.
#include "engine/engine.h"
#include "reference/reference.h"

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk) {
  reference::Matrixinv(a, stride, n, det, ik, jk);
}
void contribution_step(const Problem& problem, const FitSettings& settings, FitState& state, int s) {
  reference::contribution_step(problem, settings, state, s);
}
void contribution_pass(const Problem& problem, const FitSettings& settings, FitState& state) {
  reference::contribution_pass(problem, settings, state);
}
void profile_step(const Problem& problem, const FitSettings& settings, FitState& state, int v) {
  reference::profile_step(problem, settings, state, v);
}
void profile_pass(const Problem& problem, const FitSettings& settings, FitState& state) {
  reference::profile_pass(problem, settings, state);
}
double regression(const Problem& problem, const FitState& state, int v, double* coef, double* se) {
  return reference::regression(problem, state, v, coef, se);
}
void regressions(const Problem& problem, const FitState& state, int threads, double* chi, double* coef, double* se) {
  reference::regressions(problem, state, threads, chi, coef, se);
}
