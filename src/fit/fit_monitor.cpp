#include "fit/fit_monitor.h"

#include <cmath>
#include <utility>

void save_state(const Model& m, long pass, PassState* state) {
  state->pass = pass;
  state->p.assign(m.p.begin(), m.p.end());
  state->ny.assign(m.ny.begin(), m.ny.end());
  state->nfree = m.nfree;
  state->damp = m.damp;
  state->ueff.assign(m.ueff.begin(), m.ueff.end());
}

void restore_state(const PassState& state, Model& m) {
  m.p.assign(state.p.begin(), state.p.end());
  m.ny.assign(state.ny.begin(), state.ny.end());
  m.nfree = state.nfree;
  m.damp = state.damp;
  m.ueff.assign(state.ueff.begin(), state.ueff.end());
}

double relative_change(double previous, double c) {
  if (c == previous) return 0.0;
  return std::fabs(c - previous) / std::fabs(previous);
}

bool is_candidate(double chi2, int nytot) {
  if (nytot <= 0) return false;
  return std::isfinite(chi2 / nytot);
}

void FitMonitor::end_pass(double chi2, int nytot, int damp) {
  const double ratio = chi2 / nytot;
  if (is_candidate(chi2, nytot) && (!has_best_ || ratio < best_ratio_)) {
    std::swap(current_, best_);  // the buffer of the old best is reused by the next pass
    best_ratio_ = ratio;
    has_best_ = true;
  }
  // Only a change caused by an undamped profile step counts: the pair of lines
  // must come from two passes that both ran with damp 1.
  if (has_previous_ && previous_damp_ == 1 && damp == 1 &&
      relative_change(previous_ratio_, ratio) < converge_) {
    ++settled_;
  } else {
    settled_ = 0;
  }
  has_previous_ = true;
  previous_ratio_ = ratio;
  previous_damp_ = damp;
}

bool FitMonitor::best_beats(double chi2, int nytot) const {
  if (!has_best_) return false;
  if (!is_candidate(chi2, nytot)) return true;
  return best_ratio_ < chi2 / nytot;
}
