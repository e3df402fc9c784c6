#include "engine/detail/lane_matrixinv.h"
#include "engine/engine.h"

#include <cmath>
#include <cstring>

#include "engine/detail/literal_kernels.h"
#include "engine/detail/lanes.h"

namespace {

constexpr int kMaxRows = 64;  // larger blocks take the literal code

bool block_is_finite(const double* a, int stride, int n) {
  bool finite = true;
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < n; ++k) finite = finite && std::isfinite(a[j * stride + k]);
  }
  return finite;
}

}  // namespace

int lanes_width(int n) { return (n + 3) / 4 * 4; }

TARNOK_VECTOR_CLONES
bool TARNOK_VECTOR_BODY(invert_finite)(double* a, int stride, int n, double* det, int* ik, int* jk) {
  if (n > kMaxRows) {
    literal::Matrixinv(a, stride, n, det, ik, jk);
    return block_is_finite(a, stride, n);
  }
  auto m = [a, stride](int j, int k) -> double& { return a[j * stride + k]; };
  const int width = lanes_width(n);
  for (int j = 0; j < n; ++j) {
    for (int k = n; k < width; ++k) m(j, k) = 0.0;
  }
  *det = 1.0;
  for (int i = 0; i < n; ++i) {
    // Pivot: the element of largest magnitude in the remaining block; ties keep
    // the first in row-by-row order. The largest magnitude is found first, lanes
    // of four at a time (a maximum does not depend on the order it is taken in),
    // then the first element that has it. A NaN is never taken; it leaves the
    // block not finite.
    const int first = i & ~3;
    // Magnitudes by clearing the sign bit; in the first group of lanes the
    // columns left of i are cleared too. The padding columns hold zeros.
    const long long sign_off = 0x7fffffffffffffffLL;
    const LaneMask keep = {sign_off, sign_off, sign_off, sign_off};
    LaneMask keep_first = keep;
    for (int l = 0; l < i - first; ++l) keep_first[l] = 0;
    double row_most[kMaxRows];
    double amag = 0.0;
    for (int j = i; j < n; ++j) {
      const double* row = a + j * stride;
      LaneMask bits;
      std::memcpy(&bits, row + first, sizeof bits);
      bits &= keep_first;
      Lanes best;
      std::memcpy(&best, &bits, sizeof best);
      for (int k = first + 4; k < width; k += 4) {
        std::memcpy(&bits, row + k, sizeof bits);
        bits &= keep;
        Lanes v;
        std::memcpy(&v, &bits, sizeof v);
        best = v > best ? v : best;
      }
      double most = best[0] > best[1] ? best[0] : best[1];
      const double most2 = best[2] > best[3] ? best[2] : best[3];
      most = most2 > most ? most2 : most;
      row_most[j] = most;
      amag = most > amag ? most : amag;
    }
    double amax = 0.0;
    if (amag > 0.0) {
      int j = i;
      while (row_most[j] != amag) ++j;
      const double* row = a + j * stride;
      int k = i;
      while (std::fabs(row[k]) != amag) ++k;
      amax = row[k];
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
      double* ri = a + i * stride;
      double* rr = a + row * stride;
      for (int k = 0; k < width; k += 4) {
        Lanes hold, other;
        LOAD_LANES(hold, ri + k);
        LOAD_LANES(other, rr + k);
        hold = -hold;
        STORE_LANES(ri + k, other);
        STORE_LANES(rr + k, hold);
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
    // Reduction of every other row by the pivot row, in whole lanes (the padding
    // columns only ever hold zeros). Column i is reduced along with the rest and
    // then put back, as it is left out of the reduction.
    const double* pivot = a + i * stride;
    for (int j = 0; j < n; ++j) {
      if (j == i) continue;
      double* __restrict target = a + j * stride;
      const double f = target[i];
      const Lanes fl = {f, f, f, f};
      for (int k = 0; k < width; k += 4) {
        Lanes r, pk;
        LOAD_LANES(r, target + k);
        LOAD_LANES(pk, pivot + k);
        r = fl * pk + r;
        STORE_LANES(target + k, r);
      }
      target[i] = f;
    }
    // The pivot row; its diagonal element is replaced just after.
    double* pivot_row = a + i * stride;
    const Lanes al = {amax, amax, amax, amax};
    for (int k = 0; k < width; k += 4) {
      Lanes r;
      LOAD_LANES(r, pivot_row + k);
      r = r / al;
      STORE_LANES(pivot_row + k, r);
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
  // Finite values give x - x = 0; an infinity or a NaN gives a NaN. The padding
  // columns hold zeros.
  Lanes check = {0.0, 0.0, 0.0, 0.0};
  for (int j = 0; j < n; ++j) {
    for (int k = 0; k < width; k += 4) {
      Lanes v;
      LOAD_LANES(v, a + j * stride + k);
      check = check + (v - v);
    }
  }
  return check[0] == 0.0 && check[1] == 0.0 && check[2] == 0.0 && check[3] == 0.0;
}
TARNOK_VECTOR_DISPATCH(bool, invert_finite, (double* a, int stride, int n, double* det, int* ik, int* jk),
                       (a, stride, n, det, ik, jk))

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk) {
  if (n > kMaxRows) {
    literal::Matrixinv(a, stride, n, det, ik, jk);
    return;
  }
  // The block is inverted in a padded copy; where a value that is not finite
  // turns up, the block itself is inverted by the literal code.
  double padded[kMaxRows * kMaxRows];
  const int width = lanes_width(n);
  for (int j = 0; j < n; ++j) std::memcpy(padded + j * width, a + j * stride, static_cast<std::size_t>(n) * sizeof(double));
  if (invert_finite(padded, width, n, det, ik, jk)) {
    for (int j = 0; j < n; ++j) std::memcpy(a + j * stride, padded + j * width, static_cast<std::size_t>(n) * sizeof(double));
  } else {
    literal::Matrixinv(a, stride, n, det, ik, jk);
  }
}
