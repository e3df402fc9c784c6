#include "fit/matrixinv.h"

#include <cmath>
#include <cstring>

#include "fit/literal_kernels.h"

namespace {

// row[k] = f * pivot[k] + row[k] for k in [begin, end): one formula per element,
// so the loop runs across elements in vector lanes.
inline void add_scaled(double* __restrict row, const double* __restrict pivot, double f, int begin, int end) {
  for (int k = begin; k < end; ++k) row[k] = f * pivot[k] + row[k];
}

inline void divide(double* __restrict row, double amax, int begin, int end) {
  for (int k = begin; k < end; ++k) row[k] = row[k] / amax;
}

bool block_is_finite(const double* a, int stride, int n) {
  bool finite = true;
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < n; ++k) finite = finite && std::isfinite(a[j * stride + k]);
  }
  return finite;
}

}  // namespace

bool invert_finite(double* a, int stride, int n, double* det, int* ik, int* jk) {
  auto m = [a, stride](int j, int k) -> double& { return a[j * stride + k]; };
  *det = 1.0;
  for (int i = 0; i < n; ++i) {
    // Pivot: the element of largest magnitude in the remaining block; ties keep
    // the first in row-by-row order.
    double amax = 0.0;
    double amag = 0.0;
    for (int j = i; j < n; ++j) {
      const double* row = a + j * stride;
      for (int k = i; k < n; ++k) {
        if (std::fabs(row[k]) > amag) {
          amax = row[k];
          amag = std::fabs(amax);
          ik[i] = j;
          jk[i] = k;
        }
      }
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
    for (int j = 0; j < n; ++j) {
      if (j != i) m(j, i) = -m(j, i) / amax;
    }
    // Reduction of every other row by the pivot row; column i is left as it is.
    const double* pivot = a + i * stride;
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      double* target = a + j * stride;
      const double f = target[i];
      add_scaled(target, pivot, f, 0, i);
      add_scaled(target, pivot, f, i + 1, n);
    }
    divide(a + i * stride, amax, 0, i);
    divide(a + i * stride, amax, i + 1, n);
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
  constexpr int kSaved = 32;
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
