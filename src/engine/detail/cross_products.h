// The weighted normal equations of many variables at once, in one sweep over the
// records: the shared core of the profile step and the regression.
#pragma once

#include <vector>

#include "model/fit_state.h"
#include "model/problem.h"

// Index of the factor pair (i, j), i <= j, in a packed upper triangle.
inline int pair_index(int nfakt, int i, int j) { return i * nfakt - i * (i - 1) / 2 + (j - i); }

// The normal equations of variable v over all factor pairs:
//   a[pair_index(i, j)] = sum over records s with usik[s][v] > 0 of x[s][i] * x[s][j] * wt
//   b[i]                = sum over the same records of value[s][v] * x[s][i] * wt
// for i <= j, with wt = 1 / u / u (or 1 / u / u / scale when scaled), u =
// usik[s][v] (while a reweighting rule is on ueff[s][v], see weighing_usik), each sum taken over the records in order. The terms are symmetric,
// so a[j][i] is the same sum; any subset of factors takes its sub-block.
struct CrossSums {
  int v = 0;
  bool scaled = false;
  double scale = 1.0;
  std::vector<double> a;  ///< packed upper triangle, padded to whole lanes
  std::vector<double> b;  ///< nfakt, padded to whole lanes
  // Whether every sum is finite; then every term was, and the sums are exact
  // whatever order the factors of each product came in.
  bool finite() const;
};

// Fills `sums` from the table `value` (rawdata or dy), on `threads` threads, each
// of which takes whole variables.
void accumulate_cross_sums(const Problem& problem, const FitState& state, const float* value, std::vector<CrossSums>& sums, int threads);

// Splits the variables of `sums` evenly among `threads` threads; returns the
// indexes of sums for each thread.
std::vector<std::vector<int>> share_variables(std::size_t count, int threads);
