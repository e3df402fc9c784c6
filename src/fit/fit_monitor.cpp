#include "fit/fit_monitor.h"

#include <cmath>
#include <cstddef>
#include <utility>

void save_state(const FitState& fit, long pass, PassState* state) {
  state->pass = pass;
  state->p.assign(fit.p.begin(), fit.p.end());
  state->ny.assign(fit.ny.begin(), fit.ny.end());
  state->nfree = fit.nfree;
  state->damp = fit.damp;
  state->ueff.assign(fit.ueff.begin(), fit.ueff.end());
}

void restore_state(const PassState& state, FitState& fit) {
  fit.p.assign(state.p.begin(), state.p.end());
  fit.ny.assign(state.ny.begin(), state.ny.end());
  fit.nfree = state.nfree;
  fit.damp = state.damp;
  fit.ueff.assign(state.ueff.begin(), state.ueff.end());
}

double relative_change(double previous, double c) {
  if (c == previous) return 0.0;
  return std::fabs(c - previous) / std::fabs(previous);
}

double largest_profile_change(const std::vector<double>& previous, const std::vector<double>& p, int nfakt) {
  const std::size_t factors = static_cast<std::size_t>(nfakt);
  double largest = 0.0;
  for (std::size_t f = 0; f < factors; ++f) {
    double moved = 0.0;
    double size = 0.0;
    for (std::size_t at = f; at < p.size(); at += factors) {
      moved += std::fabs(p[at] - previous[at]);
      size += std::fabs(previous[at]);
    }
    if (moved == 0.0) continue;
    const double change = moved / size;  // infinite when the profile was all zero
    if (!(change <= largest)) largest = change;  // a NaN stays, and is never below the tolerance
  }
  return largest;
}

bool is_candidate(double chi2, int nytot) {
  if (nytot <= 0) return false;
  return std::isfinite(chi2);
}

void FitMonitor::end_pass(double chi2, int nytot, int damp) {
  if (converge_ > 0) follow_convergence(chi2, damp);
  // Ranked by chi2 itself: ny changes from pass to pass as elements are dropped
  // and held, so a lower chi2/ny can come with a clearly higher chi2. Ties keep
  // the earlier pass.
  if (is_candidate(chi2, nytot) && (!has_best_ || chi2 < best_chi2_)) {
    std::swap(current_, best_);  // the buffer of the old best is reused by the next pass
    best_chi2_ = chi2;
    has_best_ = true;
  }
}

void FitMonitor::follow_convergence(double chi2, int damp) {
  if (window_.empty()) window_.resize(kWindow + 1);
  const std::size_t size = window_.size();
  Seen& now = window_[static_cast<std::size_t>(seen_) % size];
  now.chi2 = chi2;
  now.damp = damp;
  now.p.assign(current_.p.begin(), current_.p.end());
  ++seen_;
  if (seen_ <= kWindow) {
    settled_ = 0;
    return;
  }
  // The pass kWindow passes earlier: a change caused by damped profile steps
  // does not count, and a pass whose chi2 is not finite breaks the run.
  const Seen& then = window_[static_cast<std::size_t>(seen_) % size];
  if (then.damp == 1 && now.damp == 1 && relative_change(then.chi2, chi2) < converge_ &&
      largest_profile_change(then.p, now.p, nfakt_) < converge_) {
    ++settled_;
  } else {
    settled_ = 0;
  }
}

bool FitMonitor::best_beats(double chi2, int nytot) const {
  if (!has_best_) return false;
  if (!is_candidate(chi2, nytot)) return true;
  return best_chi2_ <= chi2;
}
