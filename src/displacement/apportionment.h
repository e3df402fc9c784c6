// Intervals on the apportionment of a total among the factors: each factor's
// share (per cent) and mean contribution to the total, with the 5th and 95th
// percentile of the share over the bootstrap replicates and its range over the
// displaced fits at the ends of the total's element at dQmax 4.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "control/text_table.h"
#include "displacement/displacement.h"

struct ShareInterval {
  double share = 0.0;             ///< per cent of the total
  double mean_contribution = 0.0; ///< in the total's unit
  double bs_p05 = std::nan("");   ///< bootstrap 5th percentile of the share; NaN: not run
  double bs_p95 = std::nan("");
  double disp_low = std::nan(""); ///< displacement range of the share at dQmax 4; NaN: not run
  double disp_high = std::nan("");
};

// One interval per factor. `percent` and `mean` are the fit's apportionment;
// `bootstrap_shares` (per factor, empty without a bootstrap) the shares of the
// replicate factors mapped to each; `displacement` null without --disp, and
// `total` the total's variable.
std::vector<ShareInterval> share_intervals(const std::vector<double>& percent, const std::vector<double>& mean,
                                           const std::vector<std::vector<double>>& bootstrap_shares,
                                           const DisplacementRun* displacement, int total);

// apportionment.tsv: factor, share, mean_contribution, bs_p05, bs_p95, disp_low,
// disp_high; a cell is empty where its method was not run.
TextTable apportionment_table(const std::vector<std::string>& faktnavn, const std::vector<ShareInterval>& intervals);
