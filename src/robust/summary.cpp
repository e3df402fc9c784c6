#include "robust/summary.h"

#include "control/text_format.h"
#include "robust/weights.h"

double RobustSummary::share() const {
  return measured > 0 ? static_cast<double>(down) / static_cast<double>(measured) : 0.0;
}

RobustSummary summarize_robust(const Problem& problem, const FitState& state, double alpha) {
  RobustSummary summary;
  summary.alpha = alpha;
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const auto nrec = static_cast<std::size_t>(problem.nrec);
  summary.variable_measured.assign(nvar, 0);
  summary.variable_down.assign(nvar, 0);
  summary.record_measured.assign(nrec, 0);
  summary.record_down.assign(nrec, 0);
  for (std::size_t s = 0; s < nrec; ++s) {
    double record_robust = 0.0;
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = s * nvar + v;
      const float u = problem.usik[cell];
      if (!(u > 0)) continue;
      const double d = static_cast<double>(state.dy[cell]);
      const double plain = static_cast<double>(u);
      summary.q_true += d * d / plain / plain;
      const double q = d / plain;
      record_robust += alpha > 0 ? robust_share(q, alpha) : q * q;
      ++summary.measured;
      ++summary.variable_measured[v];
      ++summary.record_measured[s];
      if (alpha > 0 && down_weighted(u, state.dy[cell], alpha)) {
        ++summary.down;
        ++summary.variable_down[v];
        ++summary.record_down[s];
      }
    }
    summary.q_robust += record_robust;
  }
  return summary;
}

std::string robust_line(const RobustSummary& summary) {
  return format_text("Robust (alpha %lg): Q(true) %lg, Q(robust) %lg; %lld of %lld values down-weighted (%.2f %%).\n",
                     summary.alpha, summary.q_true, summary.q_robust, summary.down, summary.measured,
                     100.0 * summary.share());
}
