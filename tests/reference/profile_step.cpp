// The literal profile step: every solve of a variable rebuilds its normal
// equations from all records. The oracle for the engine.
#include "reference/reference.h"

namespace reference {

void profile_step(Model& m, int v) {
  const int nfakt = m.nfakt;
  const int nvar = m.nvar;
  const int nrec = m.nrec;
  double* p = m.p.data() + static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt);
  const double* x = m.x.data();
  const double* sum2 = m.sum2.data();
  double* a = m.a.data();
  double* b = m.b.data();
  double* xo = m.xo.data();
  int* active = m.active.data();

  int nactive = 0;
  for (int f = 0; f < nfakt; ++f) {
    if (m.fp[static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt) + static_cast<std::size_t>(f)] != 0) {
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
      if (!(m.usik[cell] > 0)) continue;
      const double u = static_cast<double>(m.usik[cell]);
      const double wt = 1 / u / u;
      const double d = static_cast<double>(m.dy[cell]);
      const double* xs = x + static_cast<std::size_t>(s) * static_cast<std::size_t>(nfakt);
      for (int i = 0; i < nactive; ++i) {
        b[i] = b[i] + d * xs[active[i]] * wt;
        for (int j = 0; j < nactive; ++j) a[i * nfakt + j] = a[i * nfakt + j] + xs[active[i]] * xs[active[j]] * wt;
      }
    }
    double det;
    Matrixinv(a, nfakt, nactive, &det, m.ik.data(), m.jk.data());

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
      d = (d + static_cast<double>(m.rotate) * target) / m.damp;
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

  m.nfree += nactive;
  m.ny[static_cast<std::size_t>(v)] = nrec - nactive;
  for (int i = 0; i < nactive; ++i) p[active[i]] = p[active[i]] + xo[i];
  for (int f = 0; f < nfakt; ++f) p[f] = p[f] * (sum2[f] / nrec);
}

}  // namespace reference
