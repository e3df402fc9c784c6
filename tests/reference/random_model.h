// Random problems for comparing the engine with the literal kernels: every table
// of the model state filled as the input readers would leave it.
#pragma once

#include <cstdint>

#include "test_model.h"

struct ProblemShape {
  int nfakt = 3;
  int nvar = 5;
  int nrec = 20;
  int offset = 0;
  float rotate = 0.0f;
  double missing = 0.05;   ///< share of values with uncertainty <= 0
  double held = 0.3;       ///< share of held profile elements
  bool singular = false;   ///< a zero profile column, a repeated column and unmeasured records
};

// A model with random non-negative profiles, a random form, and records mixed from
// the profiles with noise (some factors absent from each record, so that the
// contribution step drops factors). dy and x are zero, as before the first pass.
TestModel random_model(std::uint64_t seed, const ProblemShape& shape);
