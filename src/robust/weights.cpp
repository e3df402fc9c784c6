#include "robust/weights.h"

#include <cfloat>
#include <cmath>
#include <limits>
#include <string>

#include "control/failure.h"

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

double robust_share(double q, double alpha) {
  const double scaled = std::fabs(q);
  if (scaled > alpha) return 2.0 * alpha * scaled - alpha * alpha;
  return q * q;
}

double robust_record_chi2(const float* dy, const float* usik, float* ueff, int nvar, double alpha) {
  double sum = 0.0;
  for (int v = 0; v < nvar; ++v) {
    const float u = usik[v];
    ueff[v] = u;
    if (!(u > 0)) continue;
    const double q = static_cast<double>(dy[v]) / static_cast<double>(u);
    const double scaled = std::fabs(q);
    if (scaled > alpha) {
      const double wide = static_cast<double>(u) * std::sqrt(scaled / alpha);
      // Beyond the range of a float it is stored as infinity (refused by the refresh).
      const float raised =
          wide <= static_cast<double>(FLT_MAX) ? static_cast<float>(wide) : std::numeric_limits<float>::infinity();
      ueff[v] = raised;
    }
    sum += robust_share(q, alpha);
  }
  return sum;
}

namespace {

[[noreturn]] void fail_robust_overflow(const Problem& problem, const FitState& state, std::size_t s, std::size_t v,
                                       double alpha) {
  const std::size_t cell = s * static_cast<std::size_t>(problem.nvar) + v;
  const std::string id = problem.id_end.empty() ? std::string() : quote_cell(problem.id(static_cast<int>(s)));
  fail("Error: --robust %g is too small for these data: the value of %s in record %zu '%s' (residual %g, uncertainty "
       "%g) would get an uncertainty beyond the range of a float, so weight 0; give a larger ALPHA!\n",
       alpha, problem.varnavn[v].c_str(), s + 1, id.c_str(), static_cast<double>(state.dy[cell]),
       static_cast<double>(problem.usik[cell]));
}

}  // namespace

void refresh_robust(const Problem& problem, FitState& state, double alpha) {
  if (!(alpha > 0)) return;
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  double chi2 = 0.0;
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
    const std::size_t row = s * nvar;
    chi2 += robust_record_chi2(state.dy.data() + row, problem.usik.data() + row, state.ueff.data() + row, problem.nvar,
                               alpha);
    // A raised uncertainty beyond the range of a float would give its value the
    // weight 0: with so small an alpha every value could drop out of the fit.
    for (std::size_t v = 0; v < nvar; ++v) {
      if (std::isinf(state.ueff[row + v])) fail_robust_overflow(problem, state, s, v, alpha);
    }
  }
  state.chi2 = chi2;
}
