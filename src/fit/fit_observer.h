// What the fit asks of the world around it and what it tells it. The loop itself
// neither prints nor reads a key: the command that runs it decides what a key is,
// whether an interrupt stops it, and where the statistics lines go.
#pragma once

#include "fit/fit_outcome.h"
#include "model/fit_state.h"

class FitObserver {
 public:
  virtual ~FitObserver() = default;

  // At the start of the fit, before pass 1: a key pressed before the fit is
  // discarded here.
  virtual void discard_key() {}

  // Polled at the start of every pass: a key press stops the fit ("key pressed").
  virtual bool key_pressed() { return false; }

  // Polled at the start of a pass that no key, convergence or pass limit ends: an
  // interrupt stops the fit ("interrupted").
  virtual bool interrupted() { return false; }

  // After every full pass, with its statistics line.
  virtual void pass_done(const PassLine&) {}

  // When the fit has ended with a result: how, and its final state (the totals of
  // the final contribution step are those the result table ends with).
  virtual void fit_done(const FitOutcome&, const FitState&) {}
};
