// Solves with a lower triangular factor l (order n, row stride n), as a Cholesky
// factor l l' leaves it: the small dense kernels the held contribution step and
// the Newton fit share.
#pragma once

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
