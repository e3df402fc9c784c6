// A rule that changes the uncertainties a fit weighs with as it goes (robust mode
// is one). The loop calls it at the start of the fit and after every contribution
// step; the rule keeps what it needs in the fit's state (ueff), so one rule serves
// every fit of a run at once.
#pragma once

#include "model/fit_state.h"
#include "model/problem.h"

class Reweighting {
 public:
  virtual ~Reweighting() = default;

  // Before the first contribution step: sets up state.ueff.
  virtual void start(const Problem& problem, FitState& state) const = 0;

  // After a contribution step: new weights from its residuals, and the chi2 that
  // the loop then watches, prints and ranks passes by.
  virtual void refresh(const Problem& problem, FitState& state) const = 0;
};
