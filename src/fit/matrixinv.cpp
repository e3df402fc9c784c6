#include "fit/matrixinv.h"

#include <cmath>
#include <cstring>

#include "fit/literal_kernels.h"
#include "fit/vector_clones.h"

namespace {

constexpr int kMaxRows = 64;  // larger blocks take the literal code

typedef double Lanes __attribute__((vector_size(32)));  // four doubles

// row[k] = f * pivot[k] + row[k] for every k below n: one formula per element, so
// the loop runs across elements in vector lanes.
inline void add_scaled(double* __restrict row, const double* __restrict pivot, double f, int n) {
  const Lanes fv = {f, f, f, f};
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    Lanes r, pv;
    std::memcpy(&r, row + k, sizeof r);
    std::memcpy(&pv, pivot + k, sizeof pv);
    r = fv * pv + r;
    std::memcpy(row + k, &r, sizeof r);
  }
  for (; k < n; ++k) row[k] = f * pivot[k] + row[k];
}

// row[k] = row[k] / amax for every k below n.
inline void divide(double* __restrict row, double amax, int n) {
  const Lanes av = {amax, amax, amax, amax};
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    Lanes r;
    std::memcpy(&r, row + k, sizeof r);
    r = r / av;
    std::memcpy(row + k, &r, sizeof r);
  }
  for (; k < n; ++k) row[k] = row[k] / amax;
}

// Largest magnitude among row[0 .. len-1], lanes of four at a time (a maximum does
// not depend on the order in which it is taken).
inline double largest_magnitude(const double* row, int len) {
  Lanes best = {0.0, 0.0, 0.0, 0.0};
  int k = 0;
  for (; k + 4 <= len; k += 4) {
    Lanes v;
    std::memcpy(&v, row + k, sizeof v);
    v = v < 0.0 ? -v : v;
    best = v > best ? v : best;
  }
  double most = 0.0;
  for (int l = 0; l < 4; ++l) most = best[l] > most ? best[l] : most;
  for (; k < len; ++k) most = std::fabs(row[k]) > most ? std::fabs(row[k]) : most;
  return most;
}

bool block_is_finite(const double* a, int stride, int n) {
  bool finite = true;
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < n; ++k) finite = finite && std::isfinite(a[j * stride + k]);
  }
  return finite;
}

}  // namespace

TARNOK_VECTOR_CLONES
bool invert_finite(double* a, int stride, int n, double* det, int* ik, int* jk) {
  if (n > kMaxRows) {
    literal::Matrixinv(a, stride, n, det, ik, jk);
    return block_is_finite(a, stride, n);
  }
  auto m = [a, stride](int j, int k) -> double& { return a[j * stride + k]; };
  *det = 1.0;
  for (int i = 0; i < n; ++i) {
    // Pivot: the element of largest magnitude in the remaining block; ties keep
    // the first in row-by-row order.
    // The largest magnitude first, then the first element that has it; a NaN is
    // never taken, and leaves the block not finite.
    double amag = 0.0;
    double row_most[kMaxRows];
    for (int j = i; j < n; ++j) {
      row_most[j] = largest_magnitude(a + j * stride + i, n - i);
      amag = row_most[j] > amag ? row_most[j] : amag;
    }
    double amax = 0.0;
    if (amag > 0.0) {
      int j = i;
      while (row_most[j] != amag) ++j;
      const double* r = a + j * stride;
      int k = i;
      while (std::fabs(r[k]) != amag) ++k;
      amax = r[k];
      ik[i] = j;
      jk[i] = k;
    }
    if (amax == 0.0) {
      *det = 0.0;
      return block_is_finite(a, stride, n);
    }
    // Bring the pivot to the diagonal; the value leaving row or column i is negated.
    int row = ik[i];
    if (row > i) {
      for (int k = 0; k < n; ++k) {
        double hold = m(i, k);
        m(i, k) = m(row, k);
        m(row, k) = -hold;
      }
    }
    int col = jk[i];
    if (col > i) {
      for (int j = 0; j < n; ++j) {
        double hold = m(j, i);
        m(j, i) = m(j, col);
        m(j, col) = -hold;
      }
    }
    // Pivot column, gathered so that its divisions run in vector lanes.
    double column[kMaxRows];
    for (int j = 0; j < n; ++j) column[j] = m(j, i);
    for (int j = 0; j < n; ++j) column[j] = -column[j] / amax;
    for (int j = 0; j < n; ++j) {
      if (j != i) m(j, i) = column[j];
    }
    // Reduction of every other row by the pivot row. Column i is reduced along
    // with the rest and then put back, as it is left out of the reduction.
    const double* pivot = a + i * stride;
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      double* target = a + j * stride;
      const double f = target[i];
      add_scaled(target, pivot, f, n);
      target[i] = f;
    }
    // The pivot row; its diagonal element is replaced just after.
    divide(a + i * stride, amax, n);
    m(i, i) = 1 / amax;
    *det = amax * *det;
  }
  // Undo the exchanges, last step first: a row exchange comes back as a column
  // exchange and a column exchange as a row exchange.
  for (int l = 0; l < n; ++l) {
    int e = n - 1 - l;
    int row = ik[e];
    if (row > e) {
      for (int j = 0; j < n; ++j) {
        double hold = m(j, e);
        m(j, e) = -m(j, row);
        m(j, row) = hold;
      }
    }
    int col = jk[e];
    if (col > e) {
      for (int j = 0; j < n; ++j) {
        double hold = m(e, j);
        m(e, j) = -m(col, j);
        m(col, j) = hold;
      }
    }
  }
  return block_is_finite(a, stride, n);
}

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk) {
  constexpr int kSaved = kMaxRows;
  double saved[kSaved * kSaved];
  const bool small = n <= kSaved;
  if (small) {
    for (int j = 0; j < n; ++j) std::memcpy(saved + j * n, a + j * stride, static_cast<std::size_t>(n) * sizeof(double));
  }
  if (!small) {
    literal::Matrixinv(a, stride, n, det, ik, jk);
  } else if (!invert_finite(a, stride, n, det, ik, jk)) {
    for (int j = 0; j < n; ++j) std::memcpy(a + j * stride, saved + j * n, static_cast<std::size_t>(n) * sizeof(double));
    literal::Matrixinv(a, stride, n, det, ik, jk);
  }
}
