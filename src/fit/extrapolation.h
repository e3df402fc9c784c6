// Extrapolated profiles for --accelerate: Anderson acceleration of the passes,
// with the fit's chi2 as its safeguard. A pass maps the profiles it starts from
// to those its profile step leaves; in the slow tail of a fit that map creeps
// along a flat valley of chi2 in many small steps. From the last few passes (what
// each started from and what it left), the extrapolation takes the combination of
// their results whose change from pass to pass is smallest by least squares,
// which reaches where the passes are heading without walking there. Held
// elements keep their values and no element goes below zero. The contributions
// follow by themselves: the contribution step from the extrapolated profiles gives
// each record the contributions that fit them best. The loop keeps the
// extrapolated profiles only when that contribution step's chi2 is lower than the
// ordinary pass's; the pass itself is not changed.
#pragma once

#include <vector>

#include "model/fit_state.h"
#include "model/problem.h"

// One pass as the extrapolation sees it: the profiles it started from and those
// its profile step left (each nvar x nfakt).
struct PassMap {
  std::vector<double> from;
  std::vector<double> to;
};

// The Anderson step over `passes` (oldest first, at least two): with f = to - from
// of each pass and the differences dF and dG of f and of `to` between successive
// passes, the weights gamma minimising |f_last - dF gamma| (least squares, with a
// ridge of 1e-10 of the trace of dF'dF) give *next = to_last - dG gamma. False,
// with *next untouched, when that system cannot be solved.
bool anderson_step(const std::vector<PassMap>& passes, std::vector<double>* next);

// Makes *pushed admissible next to the current profiles p: a held element
// (form 0) takes its value in p, and an element below zero (or not a number)
// becomes zero.
void keep_bounds(const Problem& problem, const std::vector<double>& p, std::vector<double>* pushed);

class Extrapolation {
 public:
  // An extrapolation is tried at the start of every kEvery-th undamped pass, from
  // up to kDepth + 1 passes (kDepth differences). Chosen by measurement on the
  // bundled measured data and the slow-drift case (docs/performance.md).
  static constexpr int kEvery = 2;
  static constexpr int kDepth = 8;

  // At the start of a pass that runs both its steps, with the state it starts
  // from: true when an extrapolation is due, with its profiles in *pushed.
  // Only undamped passes are used (a damped pass's change is a fraction of a
  // step), and the memory starts afresh after a damped one.
  bool propose(const Problem& problem, const FitState& state, std::vector<double>* pushed);

  // After the verdict on the extrapolation (or without one): the profiles and
  // damp the pass started from.
  void started(const FitState& state);

 private:
  std::vector<PassMap> passes_;   // the last passes, oldest first; at most kDepth + 1
  std::vector<double> previous_;  // profiles the previous pass started from
  int previous_damp_ = 0;         // its damp; 0 before the first pass
  int waited_ = 0;                // undamped passes since the last try
};
