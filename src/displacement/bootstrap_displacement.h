// Displacement within bootstrap replicates: each replicate data set (the
// bootstrap's blocks of records for the same seed) is fitted from the base
// profiles, its factors are mapped to the base factors as the bootstrap maps
// them, and the displacement of that replicate fit is run at small dQmax levels.
// Per base element and level the interval is the lowest low and the highest high
// over the replicates whose factor was mapped to it; swaps and chi2 decreases are
// counted over all replicates.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "control/text_table.h"
#include "displacement/displacement.h"
#include "fit/fit_observer.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

struct BootstrapDisplacementSettings {
  int replicates = 0;                          ///< replicate data sets
  int block = 0;                               ///< records per block; 0: automatic_block_length of the base
  std::uint64_t seed = 1;                      ///< the bootstrap's seed: replicate i draws as the bootstrap's i
  double min_r = 0.6;                          ///< least correlation for mapping a replicate factor
  std::vector<double> levels = {0.5, 1.0, 2.0, 4.0};  ///< dQmax, rising
  int threads = 1;                             ///< worker threads; one replicate (fit and searches) per thread
  /// Called after each search of every replicate with the searches done and their
  /// number over the whole run; from the worker threads, one call at a time.
  std::function<void(long done, long count)> progress;
};

struct BootstrapDisplacementRun {
  std::vector<double> levels;
  int block = 0;        ///< the block length used
  int replicates = 0;   ///< replicates asked for
  int fitted = 0;       ///< replicates fitted and displaced to the end
  int failed = 0;       ///< replicates whose fit has no result
  int stopped = 0;      ///< replicates a key or Ctrl-C cut short: not used
  int not_run = 0;      ///< replicates stopped before they began
  /// Every free element of the base fit, by factor, then variable: `base` the base
  /// fit's value, low and high per level over the replicates (NaN where no
  /// replicate gave one); share_low/high empty.
  std::vector<ElementInterval> elements;
  std::vector<int> counted;              ///< per element: replicates whose interval entered it
  std::vector<int> mapped;               ///< per base factor: fitted replicates mapped to it
  std::vector<double> chi2;              ///< per replicate: its own fit's chi2; NaN when it has none
  std::vector<int> swaps;                ///< per level: interval ends over all replicates that swapped factors
  std::vector<double> largest_decrease;  ///< per level: the largest decrease below a replicate's own chi2
  long ends = 0;                         ///< interval ends per level over all fitted replicates
  long fits = 0;                         ///< constrained fits run (the replicates' own fits not counted)
  long failed_fits = 0;                  ///< of which without a result
  bool decreased() const;                ///< a decrease beyond the displacement's tolerance was seen
};

// Runs the displacement within `settings.replicates` bootstrap replicates of the
// fit `base` of `problem`; every fit (the replicate's and its constrained ones)
// uses the stop rules of `fit_settings` on one thread. The results do not depend
// on the number of threads.
BootstrapDisplacementRun run_bootstrap_displacement(const Problem& problem, const FitState& base,
                                                    const FitSettings& fit_settings, FitObserver& observer,
                                                    const BootstrapDisplacementSettings& settings);

// Reads --bs-disp-levels ("0.5,1,2,4") as parse_levels reads --disp-levels.
// Fails with a message naming --bs-disp-levels otherwise.
std::vector<double> parse_bootstrap_levels(const std::string& text);

// The console lines: counts, and per level the swaps and the largest decrease;
// a warning when a displaced fit fell below its replicate's chi2.
std::string bootstrap_displacement_summary(const BootstrapDisplacementRun& run);

// bs_disp.tsv: per free element and level factor, variable, base, dq, low, high
// and the replicates counted.
TextTable bootstrap_displacement_table(const Problem& problem, const BootstrapDisplacementRun& run);

// bs_disp_summary.tsv: per level dq, swaps, largest_decrease.
TextTable bootstrap_displacement_summary_table(const BootstrapDisplacementRun& run);
