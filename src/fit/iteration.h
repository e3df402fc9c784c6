// The alternating fit: passes of contribution step and profile step, one line of
// statistics per pass, until a key press (or a pass limit, convergence, an
// interrupt, or divergence).
#pragma once

#include "fit/fit_observer.h"
#include "fit/fit_outcome.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

// Runs the fit of `problem` from `state` (made by FitState::sized_for), telling
// `observer` of every pass. The pass in which the stop is noticed runs only its
// contribution step, so the final contributions and residuals belong to the final
// profiles; chi2 and nytot are its totals.
//
// A contribution step whose chi2 is not finite ends the fit at once: the state
// of the pass with the lowest chi2 (the earliest of equals) is restored and the
// final contribution step runs from it, so the result is that of a fit stopped at
// the start of that pass. When no pass had a finite chi2 yet, the fit returns at
// once with `failed` set and tells the observer nothing more: there is no result.
// With keep_best, every stop restores that best pass in the same way, unless the
// final contribution step has a lower chi2.
//
// Each element of settings.holds (which the problem's form must hold) is set to
// its value before pass 1; before every profile step it is set to its value over
// its factor's mean contribution in the pass, and its variable's residuals are
// moved accordingly, so the free elements are corrected with the constraint met;
// the profile step's rescaling brings it back to the value.
FitOutcome run_fit(const Problem& problem, const FitSettings& settings, FitState& state, FitObserver& observer);
