#include "robust/weights.h"

#include <cmath>

bool down_weighted(float u, float dy, double alpha) {
  if (!(u > 0)) return false;
  const double scaled = std::fabs(static_cast<double>(dy) / static_cast<double>(u));
  return scaled > alpha;
}

float robust_uncertainty(float u, float dy, double alpha) {
  if (!(u > 0)) return u;
  const double scaled = std::fabs(static_cast<double>(dy) / static_cast<double>(u));
  if (!(scaled > alpha)) return u;
  return static_cast<float>(static_cast<double>(u) * std::sqrt(scaled / alpha));
}

void start_robust(Model& m) {
  if (m.alpha > 0) {
    m.ueff.assign(m.usik.begin(), m.usik.end());
  } else {
    m.ueff.clear();
  }
}

double robust_record_chi2(const float* dy, const float* usik, float* ueff, int nvar, double alpha) {
  double sum = 0.0;
  for (int v = 0; v < nvar; ++v) {
    const float u = usik[v];
    ueff[v] = u;
    if (!(u > 0)) continue;
    const double d = static_cast<double>(dy[v]);
    double q = d / static_cast<double>(u);
    const double scaled = std::fabs(q);
    if (scaled > alpha) {
      const float raised = static_cast<float>(static_cast<double>(u) * std::sqrt(scaled / alpha));
      ueff[v] = raised;
      q = d / static_cast<double>(raised);
    }
    sum += q * q;
  }
  return sum;
}

void refresh_robust(Model& m) {
  if (!(m.alpha > 0)) return;
  const auto nvar = static_cast<std::size_t>(m.nvar);
  double chi2 = 0.0;
  for (std::size_t s = 0; s < static_cast<std::size_t>(m.nrec); ++s) {
    const std::size_t row = s * nvar;
    chi2 += robust_record_chi2(m.dy.data() + row, m.usik.data() + row, m.ueff.data() + row, m.nvar, m.alpha);
  }
  m.chi2 = chi2;
}
