#include "fit/newton_fit.h"

#include <cmath>
#include <cstddef>

#include "fit/newton_system.h"

namespace {

// Rescales every solved factor's profile by its mean contribution (sum2 / nrec of
// the latest step), the normalisation the next fit starts from. With
// `contributions` the contributions are rescaled by the inverse (the same fit)
// and their sums with them; otherwise they are left for a new contribution step.
void rescale_to_mean_contributions(const Problem& problem, FitState& state, bool contributions) {
  const int nfakt = problem.nfakt;
  const auto records = static_cast<std::size_t>(problem.nrec);
  for (int f = problem.offset; f < nfakt; ++f) {
    const auto k = static_cast<std::size_t>(f);
    const double mean = state.sum2[k] / problem.nrec;
    if (!(mean > 0) || !std::isfinite(mean)) continue;
    for (int v = 0; v < problem.nvar; ++v) state.p[static_cast<std::size_t>(v * nfakt + f)] *= mean;
    if (!contributions) continue;
    double sum = 0.0;
    for (std::size_t s = 0; s < records; ++s) {
      double& x = state.x[s * static_cast<std::size_t>(nfakt) + k];
      x /= mean;
      if (x != 0.0) sum += x;
    }
    state.sum2[k] = sum;
  }
  if (!contributions) return;
  state.sumsq = 0.0;
  for (std::size_t s = 0; s < records; ++s) {
    for (int f = 0; f < nfakt; ++f) {
      const double x = state.x[s * static_cast<std::size_t>(nfakt) + static_cast<std::size_t>(f)];
      if (x != 0.0) state.sumsq += x * x;
    }
  }
}

}  // namespace

bool newton_fits(const Problem& problem, const FitSettings& settings) {
  if (settings.reweighting != nullptr || settings.rotate != 0.0f || settings.holds.size() > 1) return false;
  for (std::size_t k = 0; k < problem.usik.size(); ++k) {
    if (!std::isfinite(problem.usik[k])) return false;
    if (problem.usik[k] > 0 && !std::isfinite(problem.rawdata[k])) return false;
  }
  return true;
}

NewtonOutcome newton_fit(const Problem& problem, const FitSettings& settings, FitState& state, const NewtonStop& stop) {
  NewtonOutcome outcome;
  for (const HeldElement& h : settings.holds) {
    state.p[static_cast<std::size_t>(h.variable * problem.nfakt + h.factor)] = h.value;
  }
  NewtonSystem fit(problem, settings);
  if (!fit.contributions(state)) {
    outcome.failed = true;
    outcome.solves = fit.solves();
    return outcome;
  }
  FitState trial = state;
  while (outcome.steps < stop.steps) {
    fit.normal_equations(state);
    const double promised = fit.decrement(state);
    if (promised < stop.tolerance) {
      outcome.converged = true;
      break;
    }
    const double fall = fit.step(state, trial);
    if (fall < 0) {
      outcome.converged = true;
      break;
    }
    ++outcome.steps;
  }
  // The held contribution step is the same for profiles and contributions
  // traded by a common scale (each factor's solution scales with it), so its
  // contributions are rescaled with the profiles; the ordinary step's pivoting
  // is not, so it runs again.
  const bool held = fit.held_step();
  rescale_to_mean_contributions(problem, state, held);
  if (!held && !fit.contributions(state)) outcome.failed = true;
  outcome.solves = fit.solves();
  return outcome;
}
