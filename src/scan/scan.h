// The factor-number scan: the same prepared data fitted with K = A..B factors,
// each K from several fresh starts, and per K the numbers an analyst compares to
// choose the number of factors. It recommends nothing by itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/text_table.h"
#include "fit/fit_observer.h"
#include "model/fit_settings.h"
#include "model/problem.h"

// A best solution counts as reproduced when at least this many starts (the best
// one included) reach it (chi2 within 0.1 %, every factor at r >= 0.9).
constexpr int kSeveralStarts = 3;

struct ScanRow {
  int factors = 0;                 ///< K
  bool has_result = false;         ///< some start of this K ended with a result
  double best_chi2 = 0.0;          ///< lowest final chi2 over the starts
  long q_exp = 0;                  ///< expected_q of the problem with K factors
  double drop_percent = 0.0;       ///< 100 * (best chi2 of K - 1 less that of K) / that of K - 1; NaN for the first
  double starts_at_best = 0.0;     ///< share (0 to 1) of the starts that reproduced the best start
  int reproduced = 0;              ///< how many starts did
  double smallest_share = 0.0;     ///< smallest factor share (per cent) of the total variable; NaN without one
  int species_above_2 = 0;         ///< variables of the best solution with chi2/ny above 2
  double seconds = 0.0;            ///< wall time of this K's starts and diagnostics
};

// The number of values fitted less the free parameters: measured values (an
// uncertainty above zero) less free profile elements (fp nonzero) less the
// contributions, nrec per factor (nrec x (nfakt - 1) in offset mode, where factor
// 0's contributions are fixed at 1).
long expected_q(const Problem& problem);

// The problem of `base`'s data with `nfakt` factors named F1 ... FK, every profile
// element free (as prepare writes them), starting profiles zero (fresh starts
// replace them).
Problem problem_with_factors(const Problem& base, int nfakt);

struct ScanSettings {
  int first = 0;               ///< A
  int last = 0;                ///< B
  int starts = 10;             ///< fresh starts per K
  std::uint64_t seed = 1;      ///< seed of the first start of every K
  int total = -1;              ///< the total variable for the shares; -1: none
};

// Fits K = first .. last in order; after each K calls `done` with its row (for
// the console and the progress). A key or an interrupt (as `observer` tells
// them) stops the scan after the starts it stopped; the rows so far are returned.
std::vector<ScanRow> run_scan(const Problem& base, const FitSettings& fit, const ScanSettings& settings,
                              FitObserver& observer, const std::function<void(const ScanRow&)>& done);

// scan.tsv: factors, best_chi2, q_exp, chi2_over_qexp, drop_from_previous,
// starts_at_best, smallest_share, species_above_2, seconds; one row per K.
TextTable scan_table(const std::vector<ScanRow>& rows);
