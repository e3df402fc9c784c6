// Cholesky factors and solves with a lower triangular factor l (order n, row
// stride n): the small dense kernels the held contribution step, the Newton fit
// and its quadratic model share.
#pragma once

#include <cmath>

// Cholesky factor of the symmetric matrix a (order n, row stride n, lower
// triangle read) into l (lower). Returns false when a pivot is not positive.
inline bool cholesky_lower(const double* a, int n, double* l) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      double sum = a[i * n + j];
      for (int k = 0; k < j; ++k) sum -= l[i * n + k] * l[j * n + k];
      if (i == j) {
        if (!(sum > 0) || !std::isfinite(sum)) return false;
        l[i * n + i] = std::sqrt(sum);
      } else {
        l[i * n + j] = sum / l[j * n + j];
      }
    }
  }
  return true;
}

// Solves l z = c in place of c.
inline void solve_lower(const double* l, int n, double* c) {
  for (int i = 0; i < n; ++i) {
    double sum = c[i];
    for (int k = 0; k < i; ++k) sum -= l[i * n + k] * c[k];
    c[i] = sum / l[i * n + i];
  }
}

// Solves l' z = c in place of c.
inline void solve_lower_transposed(const double* l, int n, double* c) {
  for (int i = n - 1; i >= 0; --i) {
    double sum = c[i];
    for (int k = i + 1; k < n; ++k) sum -= l[k * n + i] * c[k];
    c[i] = sum / l[i * n + i];
  }
}

// Solves l z = c in place of c, for l of order m with row stride `stride` and
// the reciprocals of its diagonal in rdiag (each pivot multiplied by).
inline void solve_lower_reciprocal(const double* l, int stride, const double* rdiag, int m, double* c) {
  for (int i = 0; i < m; ++i) {
    double sum = c[i];
    for (int k = 0; k < i; ++k) sum -= l[i * stride + k] * c[k];
    c[i] = sum * rdiag[i];
  }
}

// Solves l' z = c in place of c, l as for solve_lower_reciprocal.
inline void solve_lower_transposed_reciprocal(const double* l, int stride, const double* rdiag, int m, double* c) {
  for (int i = m - 1; i >= 0; --i) {
    double sum = c[i];
    for (int k = i + 1; k < m; ++k) sum -= l[k * stride + i] * c[k];
    c[i] = sum * rdiag[i];
  }
}
