// The profile half of a pass: with the contributions held, the damped weighted
// least-squares correction of every variable's free profile elements.
#pragma once

#include "control/model.h"

// Corrects the free elements of variable v (pulled by rotate, damped by damp,
// kept non-negative by elimination), sets ny[v], adds the variable's free count to
// nfree and rescales its whole row by the mean contribution of each factor.
void profile_step(Model& m, int v);
