// Robust mode (--robust ALPHA): values far from the fitted model are
// down-weighted. The fit makes small Q(robust), the sum over the measured values
// of a share that is q * q for a scaled residual q = dy / u with |q| <= alpha and
// 2 * alpha * |q| - alpha * alpha beyond (the same value and slope at alpha): a
// value's share grows only linearly beyond alpha. The weights that make a
// weighted least-squares step descend on it are 1 / u / u within alpha and
// alpha / |q| / u / u beyond: after every contribution step, a measured value
// whose |q| exceeds alpha gets the uncertainty u * sqrt(|q| / alpha) for the
// steps that follow. Every other value keeps its plain uncertainty from usik,
// and a missing value (u <= 0) stays missing. Q(robust) of a contribution step
// is thus a function of its residuals alone, that is of the profiles and
// contributions that made them, and every step of a pass lowers it (the weights
// of its residuals give a least-squares sum that lies above Q(robust)
// everywhere and touches it there, up to a constant), so passes ranked by it are
// ranked on the objective the fit makes small.
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

// One measured value's share of Q(robust) from its scaled residual q = dy / u
// (formed in double): q * q when |q| <= alpha, 2 * alpha * |q| - alpha * alpha
// beyond. A q that is not a number gives q * q, not a number.
double robust_share(double q, double alpha);

// One record (nvar values): stores ueff[v] by the rule and returns the record's
// share of Q(robust), the sum over its measured values, in variable order, of
// robust_share(dy / u) with u from usik.
double robust_record_chi2(const float* dy, const float* usik, float* ueff, int nvar, double alpha);

// After a contribution step in robust mode: ueff from dy and usik by the rule,
// and chi2 set to Q(robust) of that step's residuals: the records' shares
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
