// Which factor of another fit (a start, a bootstrap replicate) is which factor of
// the base fit: the one whose contributions, over the same records, correlate best.
#pragma once

#include <vector>

// Contributions of one fit over records in order, nrec x nfakt, x[s * nfakt + f].
struct Contributions {
  const double* x = nullptr;
  int nrec = 0;
  int nfakt = 0;
};

struct FactorMatch {
  int factor = -1;              ///< the matching factor of the other fit; -1 when none
  double r = 0.0;               ///< its correlation (NaN when no factor has one)
};

// For every base factor i: the factor j of `other` whose contributions correlate
// best with base factor i (ties: the lower j) and that correlation. Both hold the
// same records in the same order.
std::vector<FactorMatch> best_matches(const Contributions& base, const Contributions& other);

// Maps the factors of a replicate to base factors: replicate factor j goes to the
// base factor i it correlates best with (ties: the lower i) when that r >= min_r.
// Several replicate factors may go to one base factor; it then keeps the one with
// the highest r (ties: the lower j). Returns, per base factor, the replicate factor
// mapped to it and its r; factor -1 when none. In offset mode (offset = 1) factor 0,
// the constant offset, always maps to factor 0 with r = 1.
std::vector<FactorMatch> map_factors(const Contributions& base, const Contributions& replicate, double min_r,
                                     int offset);
