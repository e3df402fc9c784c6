// The contribution step of a fit with held elements. A held element is the
// element times its factor's mean contribution; with the profiles of the pass
// fixed, that pins the factor's sum of contributions over the records to
// nrec * value / element. The records are then coupled by that one sum per held
// factor: each record's non-negative least squares gets a multiplier term on the
// held factor's contribution (kept non-negative by elimination as in the
// ordinary step), and the multipliers are searched until every held factor's sum
// is met: the lowest chi2 over the contributions that keep every held element's
// value, for the profiles of the pass.
#pragma once

#include <vector>

#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

class HeldContributions {
 public:
  HeldContributions(const Problem& problem, const std::vector<HeldElement>& holds);

  // The contribution step of a pass from state.p: x and dy of every record and
  // the pass totals (chi2 with the plain uncertainties, nytot, sum2, sumsq) added
  // to what the state holds, as the ordinary step adds them. Returns false, and
  // leaves the state alone, when a value or uncertainty that is not finite takes
  // part: the ordinary step then runs instead.
  bool step(const Problem& problem, FitState& state);

  // Record s's Cholesky factor of its normal matrix over the factors the latest
  // step solved, into l (lower, order factors.size(), row stride the same),
  // when those are `factors` (rising factor numbers); false otherwise.
  bool solved_factor(const Problem& problem, int s, const std::vector<int>& factors, double* l) const;

  // The multiplier of each held factor (factor order) after the latest step.
  const std::vector<double>& multipliers() const { return lambda_; }

 private:
  // Solves every record at the current multipliers.
  void solve_all(const Problem& problem);
  double held_sum(const Problem& problem, int h) const;
  double held_slope(const Problem& problem, int h) const;
  // Finds the multiplier of held factor h that meets its sum, the others fixed.
  void search(const Problem& problem, int h);

  int n_ = 0;                    // factors solved per record (nfakt - offset)
  std::vector<int> factor_;      // per held factor: its factor
  std::vector<int> variable_;    // and the variable of its first hold with a value above 0
  std::vector<double> value_;    // that hold's value
  std::vector<double> target_;   // per held factor: the sum its contributions must have
  std::vector<double> lambda_;   // per held factor: the multiplier
  // Per record: normal matrix (n x n, full), right-hand side (n), solution (n),
  // and the diagonal element of the held factors in the inverse of the active block.
  std::vector<double> g_, b_, x_, inverse_diag_;
  std::vector<double> first_l_;  // per record: the factor its solves start from (first_factor)
  std::vector<double> first_rdiag_;  // and the reciprocals of its diagonal
  std::vector<double> final_l_;  // and the factor of the factors its latest solve kept (row stride n_)
  std::vector<int> first_index_, first_size_;  // and the factors in it, and their number
  std::vector<double> outer_;   // per variable: the outer product of its profile row over the solved factors
  std::vector<int> held_at_;    // per held factor: its position among the solved factors
  std::vector<double> work_r_, work_z_, work_c_, work_rhs_;
  std::vector<int> work_index_;

  std::vector<int> passive_;    // per record and factor: solved (1) or left out (0)
  std::vector<int> source_;     // per record: itself, or the earlier record it repeats (solved once)
};
