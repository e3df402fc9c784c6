// The literal regression of one variable on the final contributions. The oracle
// for the engine.
#include <cmath>

#include "reference/reference.h"

namespace reference {

double regression(Model& m, int v, double* coef, double* se) {
  const std::size_t nvar = static_cast<std::size_t>(m.nvar);
  const std::size_t nrec = static_cast<std::size_t>(m.nrec);
  const int nfakt = m.nfakt;
  double* a = m.a.data();
  double* b = m.b.data();

  double chi = 0.0;
  for (std::size_t s = 0; s < nrec; ++s) {
    const std::size_t cell = s * nvar + static_cast<std::size_t>(v);
    if (m.usik[cell] > 0) {
      const double q = static_cast<double>(m.dy[cell]) / static_cast<double>(m.usik[cell]);
      chi += q * q;
    }
  }
  const double scale = chi / m.ny[static_cast<std::size_t>(v)];

  for (int f = 0; f < nfakt; ++f) {
    b[f] = 0.0;
    for (int g = 0; g < nfakt; ++g) a[f * nfakt + g] = 0.0;
  }
  for (std::size_t s = 0; s < nrec; ++s) {
    const std::size_t cell = s * nvar + static_cast<std::size_t>(v);
    if (!(m.usik[cell] > 0)) continue;
    const double u = static_cast<double>(m.usik[cell]);
    const double wt = 1 / u / u / scale;
    const double value = static_cast<double>(m.rawdata[cell]);
    const double* xs = m.x.data() + s * static_cast<std::size_t>(nfakt);
    for (int f = 0; f < nfakt; ++f) {
      b[f] = b[f] + value * xs[f] * wt;
      for (int g = 0; g < nfakt; ++g) a[f * nfakt + g] = a[f * nfakt + g] + xs[f] * xs[g] * wt;
    }
  }
  double det;
  Matrixinv(a, nfakt, nfakt, &det, m.ik.data(), m.jk.data());
  for (int f = 0; f < nfakt; ++f) {
    double sum = 0.0;
    for (int g = 0; g < nfakt; ++g) sum += a[f * nfakt + g] * b[g];
    coef[f] = sum;
    se[f] = std::sqrt(a[f * nfakt + f]);
  }
  return chi;
}

}  // namespace reference
