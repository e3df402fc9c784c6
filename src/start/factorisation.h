// The weighted non-negative factorisation of a starting model: multiplicative
// updates of contributions and profiles towards the data. Its sums run in a fixed
// order (each over the samples or the variables from the first, starting at 0.0),
// so every build gives the same profiles for a seed.
#pragma once

#include <cstddef>

// 200 multiplicative updates of g (n x k contributions, row-major) and f (k x nvar
// profiles, row-major) towards x ~ g f, weighted by w (n x nvar; 0 for a missing
// value). Each update first sets every profile element from the sums over the
// samples, then every sample's contributions from the new profiles.
void factorise(std::size_t n, std::size_t nvar, std::size_t k, const double* x, const double* w, double* g,
               double* f);
