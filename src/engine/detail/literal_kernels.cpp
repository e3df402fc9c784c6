#include "engine/detail/literal_kernels.h"

#include <cmath>

namespace literal {

Scratch::Scratch(const Problem& problem)
    : a(static_cast<std::size_t>(problem.nfakt) * static_cast<std::size_t>(problem.nfakt)),
      b(static_cast<std::size_t>(problem.nfakt)),
      xo(static_cast<std::size_t>(problem.nfakt)),
      y(static_cast<std::size_t>(problem.nvar)),
      w(static_cast<std::size_t>(problem.nvar)),
      active(static_cast<std::size_t>(problem.nfakt)),
      ik(static_cast<std::size_t>(problem.nfakt)),
      jk(static_cast<std::size_t>(problem.nfakt)) {}

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

int contribution_record(const Problem& problem, const FitState& state, int s, Scratch& scratch, double* x, float* dy) {
  const int nfakt = problem.nfakt;
  const int nvar = problem.nvar;
  const int offset = problem.offset;
  const double* p = state.p.data();
  double* a = scratch.a.data();
  double* b = scratch.b.data();
  double* xo = scratch.xo.data();
  double* y = scratch.y.data();
  double* w = scratch.w.data();
  int* active = scratch.active.data();
  const std::size_t row = static_cast<std::size_t>(s) * static_cast<std::size_t>(nvar);

  for (int v = 0; v < nvar; ++v) {
    y[v] = static_cast<double>(problem.rawdata[row + static_cast<std::size_t>(v)]);
    w[v] = static_cast<double>(weighing_usik(problem, state)[row + static_cast<std::size_t>(v)]);
  }
  int nactive = nfakt;
  for (int f = 0; f < nfakt; ++f) active[f] = f;

  for (;;) {
    // Normal matrix over the variables measured in this record; symmetric.
    for (int i = offset; i < nactive; ++i) {
      for (int j = i; j < nactive; ++j) {
        double sum = 0.0;
        for (int v = 0; v < nvar; ++v) {
          if (w[v] > 0) sum += p[v * nfakt + active[i]] * p[v * nfakt + active[j]] / w[v] / w[v];
        }
        a[(i - offset) * nfakt + (j - offset)] = sum;
        if (i != j) a[(j - offset) * nfakt + (i - offset)] = sum;
      }
    }
    double det;
    Matrixinv(a, nfakt, nactive - offset, &det, scratch.ik.data(), scratch.jk.data());
    // Right-hand side; in offset mode the offset profile is taken off the values.
    for (int i = offset; i < nactive; ++i) {
      double sum = 0.0;
      for (int v = 0; v < nvar; ++v) {
        if (w[v] > 0) sum += (y[v] - offset * p[v * nfakt + 0]) * p[v * nfakt + active[i]] / w[v] / w[v];
      }
      b[i] = sum;
    }
    // Solution, and the most negative contribution (ties keep the lower position).
    double min = 0.0;
    int imin = 0;
    for (int i = offset; i < nactive; ++i) {
      double sum = 0.0;
      for (int j = offset; j < nactive; ++j) sum += a[(i - offset) * nfakt + (j - offset)] * b[j];
      xo[i] = sum;
      if (xo[i] < min) {
        min = xo[i];
        imin = i;
      }
    }
    if (offset) xo[0] = 1.0;
    if (!(min < 0 && nactive >= 2)) break;
    for (int i = imin; i < nactive - 1; ++i) active[i] = active[i + 1];
    --nactive;
  }

  for (int f = 0; f < nfakt; ++f) x[f] = 0.0;
  for (int i = 0; i < nactive; ++i) x[active[i]] = xo[i];
  for (int v = 0; v < nvar; ++v) {
    double fit = 0.0;
    for (int f = 0; f < nfakt; ++f) fit += p[v * nfakt + f] * x[f];
    dy[v] = static_cast<float>(y[v] - fit);
  }
  return nactive;
}

void add_record_totals(const Problem& problem, FitState& state, int s) {
  const std::size_t nfakt = static_cast<std::size_t>(problem.nfakt);
  const std::size_t nvar = static_cast<std::size_t>(problem.nvar);
  const double* x = state.x.data() + static_cast<std::size_t>(s) * nfakt;
  for (std::size_t f = 0; f < nfakt; ++f) {
    if (x[f] == 0.0) continue;
    state.sum2[f] += x[f];
    state.sumsq += x[f] * x[f];
  }
  const std::size_t row = static_cast<std::size_t>(s) * nvar;
  for (std::size_t v = 0; v < nvar; ++v) {
    const float residual = state.dy[row + v];
    const double w = static_cast<double>(problem.usik[row + v]);  // plain, also in robust mode
    if (w > 0) {
      state.chi2 += static_cast<double>(residual) * static_cast<double>(residual) / w / w;
    }
  }
}

int profile_variable(const Problem& problem, const FitSettings& settings, FitState& state, int v, Scratch& scratch) {
  const int nfakt = problem.nfakt;
  const int nvar = problem.nvar;
  const int nrec = problem.nrec;
  double* p = state.p.data() + static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt);
  const double* x = state.x.data();
  const double* sum2 = state.sum2.data();
  double* a = scratch.a.data();
  double* b = scratch.b.data();
  double* xo = scratch.xo.data();
  int* active = scratch.active.data();
  const std::vector<float>& usik = weighing_usik(problem, state);

  int nactive = 0;
  for (int f = 0; f < nfakt; ++f) {
    if (problem.fp[static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt) + static_cast<std::size_t>(f)] != 0) {
      active[nactive++] = f;
    }
  }

  bool violated = false;
  do {
    for (int i = 0; i < nactive; ++i) {
      b[i] = 0.0;
      for (int j = 0; j < nactive; ++j) a[i * nfakt + j] = 0.0;
    }
    for (int s = 0; s < nrec; ++s) {
      const std::size_t cell = static_cast<std::size_t>(s) * static_cast<std::size_t>(nvar) + static_cast<std::size_t>(v);
      if (!(usik[cell] > 0)) continue;
      const double u = static_cast<double>(usik[cell]);
      const double wt = 1 / u / u;
      const double d = static_cast<double>(state.dy[cell]);
      const double* xs = x + static_cast<std::size_t>(s) * static_cast<std::size_t>(nfakt);
      for (int i = 0; i < nactive; ++i) {
        b[i] = b[i] + d * xs[active[i]] * wt;
        for (int j = 0; j < nactive; ++j) a[i * nfakt + j] = a[i * nfakt + j] + xs[active[i]] * xs[active[j]] * wt;
      }
    }
    double det;
    Matrixinv(a, nfakt, nactive, &det, scratch.ik.data(), scratch.jk.data());

    double maxviol = 0.0;
    int ival = 0;
    violated = false;
    for (int i = 0; i < nactive; ++i) {
      const int e = active[i];
      const double cur = p[e];
      double d = 0.0;
      for (int j = 0; j < nactive; ++j) d += a[i * nfakt + j] * b[j];
      // Pull towards the mean of the row weighted by the factors' mean contributions.
      double pull = 0.0;
      for (int k = 0; k < nfakt; ++k) pull += p[k] * sum2[k] / nrec;
      double target = pull / nfakt - cur;
      if (target > 0 && cur < target) target = cur;
      d = (d + static_cast<double>(settings.rotate) * target) / state.damp;
      if (cur + d < 0) {
        violated = true;
        xo[i] = -cur;
        if (-cur - d > maxviol) {
          maxviol = -cur - d;
          ival = i;
        }
      } else {
        xo[i] = d;
      }
    }
    if (violated) {
      // The element that overshoots most becomes zero and is held for this pass.
      p[active[ival]] = p[active[ival]] + xo[ival];
      for (int i = ival; i < nactive - 1; ++i) active[i] = active[i + 1];
      --nactive;
    }
  } while (violated && nactive > 0);

  state.ny[static_cast<std::size_t>(v)] = nrec - nactive;
  for (int i = 0; i < nactive; ++i) p[active[i]] = p[active[i]] + xo[i];
  for (int f = 0; f < nfakt; ++f) p[f] = p[f] * (sum2[f] / nrec);
  return nactive;
}

double regression(const Problem& problem, const FitState& state, int v, Scratch& scratch, double* coef, double* se) {
  const std::size_t nvar = static_cast<std::size_t>(problem.nvar);
  const std::size_t nrec = static_cast<std::size_t>(problem.nrec);
  const int nfakt = problem.nfakt;
  double* a = scratch.a.data();
  double* b = scratch.b.data();
  const std::vector<float>& usik = weighing_usik(problem, state);

  double chi = 0.0;
  for (std::size_t s = 0; s < nrec; ++s) {
    const std::size_t cell = s * nvar + static_cast<std::size_t>(v);
    if (usik[cell] > 0) {
      const double q = static_cast<double>(state.dy[cell]) / static_cast<double>(usik[cell]);
      chi += q * q;
    }
  }
  const double scale = chi / state.ny[static_cast<std::size_t>(v)];

  for (int f = 0; f < nfakt; ++f) {
    b[f] = 0.0;
    for (int g = 0; g < nfakt; ++g) a[f * nfakt + g] = 0.0;
  }
  for (std::size_t s = 0; s < nrec; ++s) {
    const std::size_t cell = s * nvar + static_cast<std::size_t>(v);
    if (!(usik[cell] > 0)) continue;
    const double u = static_cast<double>(usik[cell]);
    const double wt = 1 / u / u / scale;
    const double value = static_cast<double>(problem.rawdata[cell]);
    const double* xs = state.x.data() + s * static_cast<std::size_t>(nfakt);
    for (int f = 0; f < nfakt; ++f) {
      b[f] = b[f] + value * xs[f] * wt;
      for (int g = 0; g < nfakt; ++g) a[f * nfakt + g] = a[f * nfakt + g] + xs[f] * xs[g] * wt;
    }
  }
  double det;
  Matrixinv(a, nfakt, nfakt, &det, scratch.ik.data(), scratch.jk.data());
  for (int f = 0; f < nfakt; ++f) {
    double sum = 0.0;
    for (int g = 0; g < nfakt; ++g) sum += a[f * nfakt + g] * b[g];
    coef[f] = sum;
    se[f] = std::sqrt(a[f * nfakt + f]);
  }
  return chi;
}

}  // namespace literal
