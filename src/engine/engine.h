// The engine: the numerical kernels of the fit and the regression. These are its
// only entry points; everything behind them lives in engine/detail. The program
// links one of two builds of them (see CMakeLists.txt): `tarnok_engine`, the fast
// kernels run across vector lanes and threads, or `tarnok_engine_reference`, the
// literal kernels one record and one variable at a time. Both give the same bits.
#pragma once

#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

// Inverts the leading n x n block of a (row stride `stride`) in place by
// Gauss-Jordan elimination with full pivoting and stores its determinant in *det.
// A singular block (every remaining element exactly 0.0 at some step) gives
// *det = 0.0 and is left partly transformed. n = 0 gives *det = 1.0 and leaves a
// untouched. ik and jk receive the pivot row and column of each step (n entries).
void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk);

// The contribution half of a pass: with the profiles held, each record's
// non-negative factor contributions by weighted least squares with elimination.
//
// Solves record s: stores x and dy for it and adds its share to the pass totals
// chi2, nytot, sum2 and sumsq. In offset mode factor 0 keeps contribution 1.0.
void contribution_step(const Problem& problem, const FitSettings& settings, FitState& state, int s);

// The contribution step of every record, on settings.threads threads. The pass
// totals get every record's share in record order, so they and x and dy are
// exactly those of calling contribution_step for s = 0, 1, ..., nrec - 1.
void contribution_pass(const Problem& problem, const FitSettings& settings, FitState& state);

// The profile half of a pass: with the contributions held, the damped weighted
// least-squares correction of every variable's free profile elements.
//
// Corrects the free elements of variable v (pulled by rotate, damped by damp,
// kept non-negative by elimination), sets ny[v], adds the variable's free count to
// nfree and rescales its whole row by the mean contribution of each factor.
void profile_step(const Problem& problem, const FitSettings& settings, FitState& state, int v);

// The profile step of every variable, on settings.threads threads; the same p, ny
// and nfree as calling profile_step for v = 0, 1, ..., nvar - 1.
void profile_pass(const Problem& problem, const FitSettings& settings, FitState& state);

// The per-variable regression check of the fitted profiles. For variable v:
// returns its chi-square and stores in coef[f] and se[f] the weighted regression
// coefficients of the measured values on the final contributions of every factor,
// and their standard errors. Every weight is divided by the variable's reduced
// chi-square.
double regression(const Problem& problem, const FitState& state, int v, double* coef, double* se);

// The regression of every variable, on `threads` threads: chi[v] and the rows
// coef[v * nfakt + f], se[v * nfakt + f], exactly as regression(..., v, ...) gives them.
void regressions(const Problem& problem, const FitState& state, int threads, double* chi, double* coef, double* se);
