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

void start_robust(const Problem& problem, FitState& state, double alpha) {
  if (alpha > 0) {
    state.ueff.assign(problem.usik.begin(), problem.usik.end());
  } else {
    state.ueff.clear();
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

void refresh_robust(const Problem& problem, FitState& state, double alpha) {
  if (!(alpha > 0)) return;
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  double chi2 = 0.0;
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
    const std::size_t row = s * nvar;
    chi2 += robust_record_chi2(state.dy.data() + row, problem.usik.data() + row, state.ueff.data() + row, problem.nvar,
                               alpha);
  }
  state.chi2 = chi2;
}
