// Watching the fit from pass to pass: what each pass starts from is kept, the pass
// whose statistics line had the lowest chi2/ny is remembered so that it can be
// restored, and the settling of chi2/ny is counted for the convergence stop.
#pragma once

#include <vector>

#include "control/model.h"

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
void save_state(const Model& m, long pass, PassState* state);

// Puts a saved state back into m.
void restore_state(const PassState& state, Model& m);

// |c - previous| / |previous|; exactly 0 when the two are equal (also when both are 0).
double relative_change(double previous, double c);

// A statistics line may be the best one only when its chi2/ny is a finite number
// over a positive ny: a line with ny <= 0 does not describe a fit.
bool is_candidate(double chi2, int nytot);

class FitMonitor {
 public:
  // Passes in a row whose relative change of chi2/ny must stay below the tolerance.
  static constexpr int kSettledPasses = 10;

  // converge: the tolerance of the convergence stop; 0 (or less) turns it off.
  explicit FitMonitor(double converge = 0.0) : converge_(converge) {}

  // At the start of pass `pass`, before its contribution step.
  void begin_pass(const Model& m, long pass) { save_state(m, pass, &current_); }

  // After the statistics line of the pass begun last: its chi2 and nytot, and the
  // damp its profile step ran with.
  void end_pass(double chi2, int nytot, int damp);

  // True once the relative change of chi2/ny between passes that both ran with
  // damp 1 has stayed below the tolerance kSettledPasses times in a row.
  bool converged() const { return converge_ > 0 && settled_ >= kSettledPasses; }

  bool has_best() const { return has_best_; }
  long best_pass() const { return best_.pass; }
  double best_ratio() const { return best_ratio_; }
  const PassState& best() const { return best_; }

  // True when the best statistics line so far is lower than the given totals,
  // which are those of a contribution step that printed no line (the final one):
  // keeping the best result then means restoring the best pass.
  bool best_beats(double chi2, int nytot) const;

  void restore_best(Model& m) const { restore_state(best_, m); }

 private:
  double converge_;
  PassState current_;          // what the pass begun last started from
  PassState best_;             // what the best pass so far started from
  bool has_best_ = false;
  double best_ratio_ = 0.0;    // chi2/ny of the best pass
  bool has_previous_ = false;  // a statistics line has been seen
  double previous_ratio_ = 0.0;
  int previous_damp_ = 0;
  int settled_ = 0;            // counted changes in a row below the tolerance
};
