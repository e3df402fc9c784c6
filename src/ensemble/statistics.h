// Small statistics of starts and bootstrap replicates: correlation of two
// contribution columns, percentiles, and the block length of a series.
#pragma once

#include <cstddef>
#include <vector>

// Pearson correlation of a[i * stride_a] and b[i * stride_b] for i = 0 .. n - 1,
// with the sums in order of i. NaN when either column is constant (or n < 2).
double correlation(const double* a, std::size_t stride_a, const double* b, std::size_t stride_b, std::size_t n);

// The q-th quantile (0 <= q <= 1) of `sorted` (ascending) by linear interpolation
// between order statistics: with h = (n - 1) * q, the value sorted[floor(h)] plus
// (h - floor(h)) times the step to the next one. NaN when there are no values.
double percentile(const std::vector<double>& sorted, double q);

// The block length for a block bootstrap of the series x (in record order) by the
// automatic rule of Politis and White (with the correction of Patton, Politis and
// White) for the circular block bootstrap:
//   autocorrelations up to mmax = ceil(sqrt(n)) + KN, KN = max(5, ceil(sqrt(log10 n)));
//   m is the first lag after which KN autocorrelations in a row lie within
//   2 sqrt(log10(n) / n) (mmax - KN when there is none), and M = min(2 m, mmax);
//   with the flat-top window l(t) (1 for |t| <= 1/2, 2 (1 - |t|) up to 1) and the
//   autocovariances R(k) (divided by n): G = sum l(k/M) |k| R(k) and
//   g = sum l(k/M) R(k) over k = -M .. M, D = 4/3 g^2, and the length is
//   (2 G^2 / D)^(1/3) n^(1/3), at most min(3 sqrt(n), n / 3).
// Returns 0 for a constant series or n < 4 (no length can be estimated).
double politis_white_length(const std::vector<double>& x);
