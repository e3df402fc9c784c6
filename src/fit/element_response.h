// How chi2 answers, to second order, when one free element of a fit at its
// minimum is moved and everything else is refitted: the quadratic model the
// displacement aims its first trials with. Measured, as the displacement
// measures it, in the element times its factor's mean contribution: moving that
// by t raises chi2 by about (t / sigma)^2, and the refitted profiles lie near
// p + t * direction. An element at 0 that chi2 pushes down has a model of its
// upward move alone, which raises chi2 by about slope * t + (t / sigma)^2.
#pragma once

#include <vector>

#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

struct ElementResponse {
  double sigma = 0.0;             ///< the move that raises chi2 by 1 (its square part); 0: no model for this element
  double slope = 0.0;             ///< an element at 0 that chi2 pushes down: the rise of chi2 per unit of an upward move
  std::vector<double> direction;  ///< nvar x nfakt: the profiles' change per unit of the move (empty: none)
};

// The model of every free element of `problem`'s form at `minimum` (a fit at a
// minimum of chi2, its x the contribution step's at its p), indexed v * nfakt +
// f; an element the form holds and every element of a factor whose system is
// singular get sigma 0. Built from the Newton fit's system with the factor's sum
// of contributions kept (its mean then pins the normalisation) and one element
// of every other factor kept (the scale each trades with its contributions).
std::vector<ElementResponse> element_responses(const Problem& problem, const FitSettings& settings,
                                               const FitState& minimum);
