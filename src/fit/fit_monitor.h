// Watching the fit from pass to pass: what each pass starts from is kept, the pass
// with the lowest chi2 is remembered so that it can be restored, and the settling
// of chi2 and of the profiles is followed for the convergence stop.
#pragma once

#include <vector>

#include "model/fit_state.h"
#include "model/problem.h"

// What a pass starts from: with it the final contribution step can run again and
// the result can be written as if the fit had been stopped at the start of `pass`.
// The contributions and residuals are not kept; that contribution step recomputes
// them from p.
struct PassState {
  long pass = 0;             ///< the pass that started from this state
  std::vector<double> p;     ///< profiles, nvar x nfakt
  std::vector<int> ny;       ///< degrees of freedom per variable left by the previous profile step
  int nfree = 0;             ///< free profile elements left by the previous profile step
  int damp = 0;              ///< divisor the pass applies in its profile step
  std::vector<float> ueff;   ///< robust mode: the uncertainties its contribution step weighs with
};

// Copies what pass `pass` starts from into *state (no allocation once sized).
void save_state(const FitState& fit, long pass, PassState* state);

// Puts a saved state back into the fit's state.
void restore_state(const PassState& state, FitState& fit);

// |c - previous| / |previous|; exactly 0 when the two are equal (also when both are 0).
double relative_change(double previous, double c);

// The largest relative change of one factor's profile from `previous` to `p` (both
// nvar x nfakt): per factor f, the sum over the variables of |p[v][f] - previous[v][f]|
// over the sum of |previous[v][f]|; 0 for a factor whose elements are all unchanged.
double largest_profile_change(const std::vector<double>& previous, const std::vector<double>& p, int nfakt);

// A pass may be the best one only when its chi2 is a finite number over a positive
// ny: a line with ny <= 0 does not describe a fit.
bool is_candidate(double chi2, int nytot);

class FitMonitor {
 public:
  // The convergence stop compares each pass with the pass this many passes
  // earlier, and needs that many such comparisons in a row below the tolerance.
  // Twelve is a multiple of the short cycles (2, 3, 4 and 6 passes) that chi2 of
  // noisy data can run in, so a cycle is compared phase with phase and neither
  // hides a drift nor holds the stop off.
  static constexpr int kWindow = 12;

  // converge: the tolerance of the convergence stop; 0 (or less) turns it off.
  explicit FitMonitor(double converge = 0.0) : converge_(converge) {}

  // At the start of pass `pass`, before its contribution step.
  void begin_pass(const Problem& problem, const FitState& state, long pass) {
    nfakt_ = problem.nfakt;
    save_state(state, pass, &current_);
  }

  // The pass begun last starts from other profiles after all (extrapolated ones
  // that were accepted); everything else it started from stays.
  void moved_start(const std::vector<double>& p) { current_.p.assign(p.begin(), p.end()); }

  // After the statistics line of the pass begun last: its chi2 and nytot, and the
  // damp its profile step ran with.
  void end_pass(double chi2, int nytot, int damp);

  // True once, for kWindow passes in a row, both the relative change of chi2 and
  // the largest relative change of a factor's profile from the pass kWindow
  // passes earlier stayed below the tolerance, every pass compared having run
  // with damp 1.
  bool converged() const { return converge_ > 0 && settled_ >= kWindow; }

  bool has_best() const { return has_best_; }
  long best_pass() const { return best_.pass; }
  double best_chi2() const { return best_chi2_; }
  const PassState& best() const { return best_; }

  // True when the best pass so far has a chi2 lower than or equal to the given
  // one, which is that of a contribution step that printed no line (the final
  // one): keeping the best result then means restoring the best pass.
  bool best_beats(double chi2, int nytot) const;

  void restore_best(FitState& state) const { restore_state(best_, state); }

 private:
  // One pass as the convergence stop sees it: the fit of the profiles it started from.
  struct Seen {
    double chi2 = 0.0;
    int damp = 0;
    std::vector<double> p;
  };
  void follow_convergence(double chi2, int damp);

  double converge_;
  int nfakt_ = 0;               // factors, the row stride of the profiles
  PassState current_;          // what the pass begun last started from
  PassState best_;             // what the best pass so far started from
  bool has_best_ = false;
  double best_chi2_ = 0.0;     // chi2 of the best pass
  std::vector<Seen> window_;   // the last kWindow + 1 passes, by pass number modulo its size
  long seen_ = 0;              // passes followed
  int settled_ = 0;            // comparisons in a row below the tolerance
};
