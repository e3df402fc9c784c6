// The kernels exactly as first written: one record or one variable at a time, each
// sum built afresh for every solve, no vector lanes, no mirrored sums. The engine
// falls back to them wherever a value that is not finite is about: x86 passes on
// the NaN of the first operand when both are NaN, so the sign of a printed "nan"
// depends on the operand order of every operation, and only the literal code gives
// the literal order. With finite values the fast paths give the same bits.
#pragma once

#include <vector>

#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

namespace literal {

// Scratch of one thread, sized by the model (as the model's own solver scratch).
struct Scratch {
  explicit Scratch(const Problem& problem);
  std::vector<double> a, b, xo, y, w;
  std::vector<int> active, ik, jk;
};

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk);

// The contribution step of record s without the pass totals: writes x and dy of
// the record and returns the number of active factors.
int contribution_record(const Problem& problem, const FitState& state, int s, Scratch& scratch, double* x, float* dy);

// Adds record s's share to sum2, sumsq and chi2 from its stored x and dy, in the
// order of the contribution step: the solved contributions by increasing factor
// (a factor left out has x exactly 0, and adding 0.0 to a sum that starts at 0.0
// never changes it), then the measured variables in order.
void add_record_totals(const Problem& problem, FitState& state, int s);

// The profile step of variable v: corrects and rescales its row of p, sets ny[v]
// and returns the number of elements still free.
int profile_variable(const Problem& problem, const FitSettings& settings, FitState& state, int v, Scratch& scratch);

// The regression of variable v; returns its chi-square.
double regression(const Problem& problem, const FitState& state, int v, Scratch& scratch, double* coef, double* se);

}  // namespace literal
