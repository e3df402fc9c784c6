// The literal single-threaded kernels of the fit and the regression, with the
// engine's entry points: the oracle that the engine's results must match bit for
// bit. They live in their own namespace so that tests can run them beside the
// engine; link.cpp puts them under the engine's names for the reference engine
// (the target tarnok_engine_reference).
#pragma once

#include <cstddef>

#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

namespace reference {

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk);
void contribution_step(const Problem& problem, const FitSettings& settings, FitState& state, int s);
void profile_step(const Problem& problem, const FitSettings& settings, FitState& state, int v);
double regression(const Problem& problem, const FitState& state, int v, double* coef, double* se);

// Every record, every variable, in order, one at a time.
void contribution_pass(const Problem& problem, const FitSettings& settings, FitState& state);
void profile_pass(const Problem& problem, const FitSettings& settings, FitState& state);
void regressions(const Problem& problem, const FitState& state, int threads, double* chi, double* coef, double* se);

// The starting model's factorisation (start/factorisation.h), sums in the order of
// its definition.
void factorise(std::size_t n, std::size_t nvar, std::size_t k, const double* x, const double* w, double* g,
               double* f);

}  // namespace reference
