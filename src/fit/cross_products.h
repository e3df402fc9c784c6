// The weighted normal equations of many variables at once, in one sweep over the
// records: the shared core of the profile step and the regression.
#pragma once

#include <vector>

#include "control/model.h"

// The normal equations of variable v over its factor list f[0 .. n-1]:
//   a[i * n + j] = sum over records s with usik[s][v] > 0 of x[s][f[i]] * x[s][f[j]] * wt
//   b[i]         = sum over the same records of value[s][v] * x[s][f[i]] * wt
// with wt = 1 / u / u (or 1 / u / u / scale when scaled), u = usik[s][v], each sum
// taken over the records in order. Only the upper triangle (j >= i) is filled; the
// terms are symmetric, so a[j][i] is the same sum.
struct CrossSums {
  int v = 0;
  int n = 0;
  std::vector<int> f;
  bool scaled = false;
  double scale = 1.0;
  std::vector<double> a;
  std::vector<double> b;
};

// Fills every element of `sums` from the table `value` (rawdata or dy), on
// `threads` threads, each of which takes whole variables.
void accumulate_cross_sums(const Model& m, const float* value, std::vector<CrossSums>& sums, int threads);

// Splits the variables of `sums` among `threads` threads by their work (n * n),
// largest first; returns the indexes of sums for each thread.
std::vector<std::vector<int>> share_by_work(const std::vector<CrossSums>& sums, int threads);
