#include "displacement/apportionment.h"

#include <algorithm>

#include "ensemble/statistics.h"
#include "ensemble/tsv_text.h"

namespace {

// The level the apportionment's displacement interval is read at.
constexpr double kShareLevel = 4.0;

std::string cell(double value) { return std::isnan(value) ? std::string() : number_cell(value); }

}  // namespace

std::vector<ShareInterval> share_intervals(const std::vector<double>& percent, const std::vector<double>& mean,
                                           const std::vector<std::vector<double>>& bootstrap_shares,
                                           const DisplacementRun* displacement, int total) {
  std::vector<ShareInterval> intervals(percent.size());
  std::vector<double> sorted;
  for (std::size_t f = 0; f < percent.size(); ++f) {
    ShareInterval& interval = intervals[f];
    interval.share = percent[f];
    interval.mean_contribution = mean[f];
    if (f < bootstrap_shares.size()) {
      sorted = bootstrap_shares[f];
      std::sort(sorted.begin(), sorted.end());
      interval.bs_p05 = percentile(sorted, 0.05);
      interval.bs_p95 = percentile(sorted, 0.95);
    }
  }
  if (displacement == nullptr) return intervals;
  const auto level = std::find(displacement->levels.begin(), displacement->levels.end(), kShareLevel);
  if (level == displacement->levels.end()) return intervals;
  const auto k = static_cast<std::size_t>(level - displacement->levels.begin());
  for (const ElementInterval& element : displacement->elements) {
    if (element.variable != total || element.share_low.empty()) continue;
    ShareInterval& interval = intervals[static_cast<std::size_t>(element.factor)];
    interval.disp_low = interval.share;
    interval.disp_high = interval.share;
    for (double share : {element.share_low[k], element.share_high[k]}) {
      if (std::isnan(share)) continue;
      interval.disp_low = std::min(interval.disp_low, share);
      interval.disp_high = std::max(interval.disp_high, share);
    }
  }
  return intervals;
}

TextTable apportionment_table(const std::vector<std::string>& faktnavn, const std::vector<ShareInterval>& intervals) {
  TextTable table;
  table.headings = {"factor", "share", "mean_contribution", "bs_p05", "bs_p95", "disp_low", "disp_high"};
  for (std::size_t f = 0; f < intervals.size(); ++f) {
    const ShareInterval& i = intervals[f];
    table.rows.push_back({faktnavn[f], number_cell(i.share), number_cell(i.mean_contribution), cell(i.bs_p05),
                          cell(i.bs_p95), cell(i.disp_low), cell(i.disp_high)});
  }
  return table;
}
