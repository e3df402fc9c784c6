// The profile half of a pass: with the contributions held, the damped weighted
// least-squares correction of every variable's free profile elements.
#pragma once

#include "control/model.h"

// Corrects the free elements of variable v (pulled by rotate, damped by damp,
// kept non-negative by elimination), sets ny[v], adds the variable's free count to
// nfree and rescales its whole row by the mean contribution of each factor.
void profile_step(Model& m, int v);

// The profile step of every variable, on m.threads threads; the same p, ny and
// nfree as calling profile_step for v = 0, 1, ..., nvar - 1.
void profile_pass(Model& m);
