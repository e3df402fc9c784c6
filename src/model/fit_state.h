// The state of one fit: the profiles it moves, the contributions and residuals of
// its latest contribution step, the residue, and the totals of its latest pass.
// Made only by sized_for(problem), so its tables always fit the problem.
//
// Glossary of the domain names (shape; unit):
//   p         profiles: amount of variable v per unit contribution of factor f
//             (nvar x nfakt; rawdata's unit per contribution unit)
//   x         contributions of the factors to each record (nrec x nfakt; contribution unit)
//   dy        residuals, measured less fitted (nrec x nvar; as rawdata)
//   r, t      residue profile (nvar) and residue contributions (nrec, summing to 1)
//   ny        degrees of freedom per variable (nvar; count)
//   chi2      sum of squared residuals over squared uncertainties (scalar; none)
//   nytot     degrees of freedom of a pass (scalar; count)
//   sum2      per-factor sum of contributions in a pass (nfakt; contribution unit)
//   sumsq     sum of squared contributions in a pass (scalar; squared contribution unit)
//   damp      divisor of every profile correction: 10 in pass 1, down to 1 (scalar)
#pragma once

#include <new>
#include <vector>

#include "model/problem.h"

// Thrown by FitState::sized_for when one of its tables does not fit in memory.
class NoMemoryFor : public std::bad_alloc {
 public:
  explicit NoMemoryFor(const char* table) : table_(table) {}
  const char* table() const { return table_; }  ///< "sum2", "dy", "x" or "t"

 private:
  const char* table_;
};

struct FitState {
  std::vector<double> p;      ///< profiles, nvar x nfakt, p[v * nfakt + f]
  std::vector<double> x;      ///< contributions, nrec x nfakt, x[s * nfakt + f]
  std::vector<float> dy;      ///< residuals (value minus model), nrec x nvar
  std::vector<double> t;      ///< residue contributions, nrec
  std::vector<float> r;       ///< residue profile, nvar
  std::vector<int> ny;        ///< degrees of freedom per variable after the last profile step
  std::vector<float> ueff;    ///< nrec x nvar while a reweighting rule is on: the uncertainties the fit
                              ///< weighs with (usik, raised for values with large scaled residuals); else empty
  int damp = 10;              ///< divisor applied to every profile correction

  // Pass totals of the latest pass; after the fit, those of the final shortened pass.
  double chi2 = 0.0;          ///< sum of squared weighted residuals
  int nytot = 0;              ///< degrees of freedom of the pass
  double sumsq = 0.0;         ///< sum of squared contributions
  int nfree = 0;              ///< free profile elements after the latest profile step
  std::vector<double> sum2;   ///< per-factor sum of contributions in the pass, nfakt

  // A state before the first pass of a fit of `problem`: p from its starting
  // profiles, every other table zero-filled, damp 10. Throws NoMemoryFor when a
  // table does not fit in memory.
  static FitState sized_for(const Problem& problem);

  // True when every table has the size `problem` gives it.
  bool fits(const Problem& problem) const;
};

// The uncertainties the normal equations, the residue and the regression weigh
// with: ueff while a reweighting rule is on, usik otherwise.
inline const std::vector<float>& weighing_usik(const Problem& problem, const FitState& state) {
  return state.ueff.empty() ? problem.usik : state.ueff;
}
