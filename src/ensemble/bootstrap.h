// The block bootstrap of a fitted model: replicate data sets of blocks of records
// drawn with replacement, each fitted from the base result's profiles with the
// same stop rules, each replicate factor mapped to a base factor, and the spread
// of every profile element over the replicates mapped to its factor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ensemble/mapping.h"
#include "fit/fit_observer.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"
#include "control/text_table.h"

struct BootstrapSettings {
  int replicates = 0;        ///< replicate data sets to fit
  int block = 0;             ///< records per block; 0: automatic_block_length of the base
  std::uint64_t seed = 1;    ///< replicate i draws from Random(seed, 2^32 + i)
  double min_r = 0.6;        ///< least correlation for mapping a replicate factor
  int threads = 1;           ///< worker threads; each fit runs on one
  int total = -1;            ///< variable whose shares among the factors to keep (--total); -1: none
};

struct BootstrapRun {
  int block = 0;                        ///< the block length used
  int replicates = 0;                   ///< replicates asked for
  int fitted = 0;                       ///< replicates with a result
  int failed = 0;                       ///< replicates whose fit has no result
  int stopped = 0;                      ///< replicates stopped part-way (a key or Ctrl-C): not used
  int not_run = 0;                      ///< replicates stopped before they began
  long passes = 0;                      ///< statistics lines of all fitted replicates
  std::vector<int> mapped;              ///< per base factor: fitted replicates mapped to it
  // Per base factor f and variable v, values[f * nvar + v]: that profile element
  // of the replicate factor mapped to f, over the replicates in order.
  std::vector<std::vector<double>> values;
  // With a total: per base factor, the share (per cent) of the total that the
  // replicate factor mapped to it has, over the replicates in order; else empty.
  std::vector<std::vector<double>> shares;
};

// Runs the bootstrap of the fit `base` of `problem` (the fitted state whose result
// was written); each replicate is fitted with `fit_settings` on one thread.
BootstrapRun run_bootstrap(const Problem& problem, const FitState& base, const FitSettings& fit_settings,
                           FitObserver& observer, const BootstrapSettings& settings);

// Which replicate factor is which base factor: map_factors of the replicate fit
// `fit` (over the drawn `records`, in order) against the base contributions of
// those records, per base factor the replicate factor mapped to it.
std::vector<FactorMatch> map_replicate(const Problem& problem, const FitState& base, const std::vector<int>& records,
                                       const FitState& fit, double min_r);

// The console lines of a bootstrap: the counts and, per factor, how often it was
// mapped.
std::string bootstrap_summary(const Problem& problem, const BootstrapRun& run);

// The table of the bootstrap: per factor and variable the base value and the 5th,
// 25th, 50th, 75th and 95th percentile over the replicates mapped to the factor,
// and how many there were.
TextTable bootstrap_table(const Problem& problem, const FitState& base, const BootstrapRun& run);

// The text of bootstrap_mapping.tsv: per base factor the fitted replicates mapped
// to it and those not, and the failed replicates.
TextTable mapping_table(const Problem& problem, const BootstrapRun& run);
