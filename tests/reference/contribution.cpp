// The literal contribution step: every solve of a record rebuilds its normal
// matrix and right-hand side from the profiles. The oracle for the engine.
#include "reference/reference.h"

namespace reference {

void contribution_step(Model& m, int s) {
  const int nfakt = m.nfakt;
  const int nvar = m.nvar;
  const int offset = m.offset;
  const double* p = m.p.data();
  double* a = m.a.data();
  double* b = m.b.data();
  double* xo = m.xo.data();
  double* y = m.y.data();
  double* w = m.w.data();
  int* active = m.active.data();
  const std::size_t row = static_cast<std::size_t>(s) * static_cast<std::size_t>(nvar);

  for (int v = 0; v < nvar; ++v) {
    y[v] = static_cast<double>(m.rawdata[row + static_cast<std::size_t>(v)]);
    w[v] = static_cast<double>(m.usik[row + static_cast<std::size_t>(v)]);
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
    Matrixinv(a, nfakt, nactive - offset, &det, m.ik.data(), m.jk.data());
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

  m.nytot += nvar - nactive + offset;
  double* x = m.x.data() + static_cast<std::size_t>(s) * static_cast<std::size_t>(nfakt);
  for (int f = 0; f < nfakt; ++f) x[f] = 0.0;
  for (int i = 0; i < nactive; ++i) {
    x[active[i]] = xo[i];
    m.sum2[static_cast<std::size_t>(active[i])] += xo[i];
    m.sumsq += xo[i] * xo[i];
  }
  for (int v = 0; v < nvar; ++v) {
    double fit = 0.0;
    for (int f = 0; f < nfakt; ++f) fit += p[v * nfakt + f] * x[f];
    float residual = static_cast<float>(y[v] - fit);
    m.dy[row + static_cast<std::size_t>(v)] = residual;
    if (w[v] > 0) {
      m.chi2 += static_cast<double>(residual) * static_cast<double>(residual) / w[v] / w[v];
    }
  }
}

}  // namespace reference
