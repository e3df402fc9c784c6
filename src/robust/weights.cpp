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

void refresh_robust(Model& m) {
  if (!(m.alpha > 0)) return;
  const std::size_t cells = m.usik.size();
  const float* usik = m.usik.data();
  const float* dy = m.dy.data();
  float* ueff = m.ueff.data();
  const double alpha = m.alpha;
  double chi2 = 0.0;
  for (std::size_t cell = 0; cell < cells; ++cell) {
    const float u = robust_uncertainty(usik[cell], dy[cell], alpha);
    ueff[cell] = u;
    if (u > 0) {
      const double w = static_cast<double>(u);
      chi2 += static_cast<double>(dy[cell]) * static_cast<double>(dy[cell]) / w / w;
    }
  }
  m.chi2 = chi2;
}
