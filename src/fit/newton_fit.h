// A fit carried to its minimum by damped Gauss-Newton steps on the profiles,
// for the many constrained fits of a displacement. The alternating passes of
// run_fit crawl along the directions in which the factors can trade amounts
// with little change of chi2 (the very directions a displacement probes);
// here every step solves for all free profile elements at once, with the
// contributions eliminated:
//
// - For given profiles the contributions are those of the contribution step
//   (the ordinary one, or with a held element the one that keeps its value), so
//   chi2 is a function of the free profile elements alone.
// - Its gradient is the profile gradient of chi2 at those contributions; its
//   curvature is the Gauss-Newton matrix of profiles and contributions with the
//   contributions of every record (those the step solved, the others stay 0)
//   eliminated, and with the held factor's sum of contributions kept fixed.
// - Each step solves that system with a Levenberg-Marquardt damping, keeps the
//   elements non-negative (an element at 0 that chi2 pushes further down stays
//   out of the step), and is taken only when chi2 falls; otherwise the damping
//   grows and the step is tried again.
//
// The fit ends when the undamped step promises to lower chi2 by less than the
// tolerance (or no step lowers it), at the same kind of point as the
// alternating fit: no free element can move and lower chi2. Every sum runs in a fixed order, so the result does not depend on the
// thread that runs it.
#pragma once

#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

struct NewtonStop {
  double tolerance = 1e-4;  ///< stop once the undamped step promises to lower chi2 by less than this (absolute)
  long steps = 400;         ///< and after at most this many accepted steps
};

struct NewtonOutcome {
  long steps = 0;          ///< accepted steps
  long solves = 0;         ///< contribution steps run, each the cost of about one pass of run_fit
  bool converged = false;  ///< the undamped step promised less than the tolerance, or no step lowered chi2
  bool failed = false;     ///< the start's chi2 was not finite: there is no result
};

// Whether newton_fit fits `problem` with `settings`: plain weights (no
// reweighting), no rotate pull, at most one held element, and every value and
// uncertainty the fit weighs finite. Otherwise run_fit is the fit to use.
bool newton_fits(const Problem& problem, const FitSettings& settings);

// Fits `state` (its p the start; the profiles with every factor's mean
// contribution near 1, as a fit leaves them) to a minimum of chi2 over the free
// elements of the problem's form. A held element (settings.holds, at most one,
// which the form must hold) is set to its value, in that normalisation, before
// the first step and keeps its value as element times mean contribution
// throughout. On return the profiles are again rescaled to mean contributions of
// 1 and x, dy, chi2, nytot, sum2 and sumsq are those of their contribution step.
NewtonOutcome newton_fit(const Problem& problem, const FitSettings& settings, FitState& state, const NewtonStop& stop);

