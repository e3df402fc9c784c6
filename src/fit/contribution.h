// The contribution half of a pass: with the profiles held, each record's
// non-negative factor contributions by weighted least squares with elimination.
#pragma once

#include "control/model.h"

// Solves record s: stores x and dy for it and adds its share to the pass totals
// chi2, nytot, sum2 and sumsq. In offset mode factor 0 keeps contribution 1.0.
void contribution_step(Model& m, int s);

// The contribution step of every record, on m.threads threads. The pass totals get
// every record's share in record order, so they and x and dy are exactly those of
// calling contribution_step for s = 0, 1, ..., nrec - 1.
void contribution_pass(Model& m);
