// How stable the answer of several starts is: how far each start's chi2 lies above
// the best, which factor of a start is which factor of the best start, and how far
// the factors' shares of a total move between the starts that end near the best.
#pragma once

#include <string>
#include <vector>

#include "ensemble/starts.h"
#include "model/problem.h"

// The factors of one fit matched one to one to those of a base fit.
struct FactorPairing {
  std::vector<int> factor;             ///< nfakt: per base factor, the factor of the other fit matched to it
  std::vector<double> profile_r;       ///< nfakt: correlation of the two profiles over the variables
  std::vector<double> contribution_r;  ///< nfakt: correlation of the two contributions over the records
};

// Of all one-to-one pairings of the factors of `other` with those of `base`, the
// one with the highest sum over pairs of profile r plus contribution r (an r that is
// not a number counts as 0; ties: the first pairing met when base factor 0 tries
// the other's factors in order, then base factor 1, ...). Profiles are nvar x nfakt,
// contributions nrec x nfakt. In offset mode (offset = 1) factor 0, the constant
// offset, is factor 0 of both, its contribution r 1.
FactorPairing pair_factors(const double* base_p, const double* base_x, const double* other_p, const double* other_x,
                           int nvar, int nrec, int nfakt, int offset);

// The chi2 of a start this close to the best (in per cent of it) reaches the best.
constexpr double kSameChi2Percent = 0.1;
// A factor is reproduced when both correlations are at least this.
constexpr double kReproducedR = 0.9;
// The starts whose shares are compared lie this close to the best chi2 (per cent).
constexpr double kNearChi2Percent = 1.0;

struct StartStability {
  bool has_result = false;       ///< the start ended with a finite chi2
  double excess_percent = 0.0;   ///< 100 * (chi2 - best chi2) / best chi2
  FactorPairing match;           ///< its factors matched to the best start's
  bool reproduced = false;       ///< chi2 within kSameChi2Percent, every factor at kReproducedR
  bool near_best = false;        ///< chi2 within kNearChi2Percent
  std::vector<double> share;     ///< nfakt: per factor of the best start, its matched factor's share in per cent
};

struct Stability {
  std::vector<StartStability> starts;  ///< one per start, in start order
  int reproduced = 0;                  ///< starts that reproduced the best start (the best itself too)
  int near_best = 0;                   ///< starts within kNearChi2Percent of the best chi2
  std::vector<double> least_share;     ///< nfakt: smallest share of each factor over the near starts
  std::vector<double> most_share;      ///< nfakt: largest share
};

// Each factor's share in per cent of the total: of variable `total` (p[total][f]
// times the sum of its contributions), or with total -1 of all variables (the sum
// of its profile times the sum of its contributions).
std::vector<double> factor_shares(const Problem& problem, const double* p, const double* x, int total);

// The stability of a run with a best start (run.best >= 0); shares as factor_shares.
Stability assess_stability(const Problem& problem, const StartsRun& run, int total);

// The summary line, e.g.
//   "Stability: 7 of 20 starts reached the best chi2 within 0.1 % and reproduced
//    every factor at r >= 0.9; shares of all variables over the 9 starts within 1 %
//    of the best chi2: F1 20.12 to 22.91 %, F2 ...\n"
// `total_name`: the variable of the shares, empty for all variables.
std::string stability_line(const Problem& problem, const Stability& stability, const std::string& total_name);
