// The literal Gauss-Jordan inversion the fit was first written with; the oracle
// for the engine's Matrixinv.
#include "reference/reference.h"

#include <cmath>

namespace reference {

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk) {
  auto m = [a, stride](int j, int k) -> double& { return a[j * stride + k]; };
  *det = 1.0;
  for (int i = 0; i < n; ++i) {
    // Pivot: the element of largest magnitude in the remaining block; ties keep
    // the first in row-by-row order.
    double amax = 0.0;
    for (int j = i; j < n; ++j) {
      for (int k = i; k < n; ++k) {
        if (std::fabs(m(j, k)) > std::fabs(amax)) {
          amax = m(j, k);
          ik[i] = j;
          jk[i] = k;
        }
      }
    }
    if (amax == 0.0) {
      *det = 0.0;
      return;
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
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      for (int k = 0; k < n; ++k) {
        if (k != i) m(j, k) = m(j, i) * m(i, k) + m(j, k);
      }
    }
    for (int k = 0; k < n; ++k) {
      if (k != i) m(i, k) = m(i, k) / amax;
    }
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
}

}  // namespace reference
