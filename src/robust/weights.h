// Robust mode (--robust ALPHA): values far from the fitted model are
// down-weighted. After every contribution step, a measured value whose scaled
// residual |dy / u| exceeds alpha gets the uncertainty u * sqrt(|dy / u| / alpha)
// for the steps that follow, so that its share of chi2, dy * dy / u' / u', is
// alpha * |dy / u|: it grows only linearly beyond alpha. Every other value keeps
// its plain uncertainty from usik, and a missing value (u <= 0) stays missing.
#pragma once

#include "fit/reweighting.h"
#include "model/fit_state.h"
#include "model/problem.h"

// Whether the rule raises the uncertainty of a value with residual dy and plain
// uncertainty u: u > 0 and |dy / u| > alpha (a scaled residual of exactly alpha,
// or one that is not a number, is not raised).
bool down_weighted(float u, float dy, double alpha);

// The uncertainty such a value enters the following steps with. The scaled
// residual, the square root and the product are formed in double,
// u * sqrt(|dy / u| / alpha), and rounded to float when stored; a value the rule
// does not raise keeps u as it is.
float robust_uncertainty(float u, float dy, double alpha);

// At the start of a fit in robust mode (alpha > 0): ueff = usik, so the first
// contribution step weighs with the plain uncertainties. Clears ueff otherwise.
void start_robust(const Problem& problem, FitState& state, double alpha);

// One record (nvar values): stores ueff[v] by the rule and returns the record's
// share of Q(robust), the sum over its measured values, in variable order, of
// q * q with q = dy / ueff (for a value the rule does not raise, q is its scaled
// residual dy / u itself).
double robust_record_chi2(const float* dy, const float* usik, float* ueff, int nvar, double alpha);

// After a contribution step in robust mode: ueff from dy and usik by the rule,
// and chi2 set to the robust chi2 of that step, Q(robust): the records' shares
// (robust_record_chi2) added record by record in order. (The contribution step's
// own chi2 is Q(true), with the plain uncertainties.) The steps that follow (the
// profile step, the next contribution step, the residue and the regression)
// weigh with ueff. Does nothing when alpha is 0.
void refresh_robust(const Problem& problem, FitState& state, double alpha);

// The rule as the fit loop plugs it in: start_robust at the start of a fit and
// refresh_robust after every contribution step, with one alpha for every fit.
class RobustWeighting : public Reweighting {
 public:
  explicit RobustWeighting(double alpha) : alpha_(alpha) {}
  double alpha() const { return alpha_; }
  void start(const Problem& problem, FitState& state) const override { start_robust(problem, state, alpha_); }
  void refresh(const Problem& problem, FitState& state) const override { refresh_robust(problem, state, alpha_); }

 private:
  double alpha_;
};
