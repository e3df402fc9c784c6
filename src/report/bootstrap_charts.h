// The bootstrap in the report: the spread of every profile element over the
// replicates as box plots, one chart per factor, and the factors that the
// replicates did not reproduce often enough to trust their spread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "control/text_table.h"

// Share of the fitted replicates a factor must be mapped in; below it the factor's
// spread rests on too few replicates and is marked.
inline constexpr double kWellMappedShare = 0.8;

// From the bootstrap table (factor, variable, base, p05, p25, p50, p75, p95, replicates):
// per factor in order of appearance, its name and an SVG chart with one box per
// variable (5th to 95th percentile whiskers, quartile box, median) on a log axis
// and the base value as a dot.
//
// Each of `intervals` (a table of factor, variable, base, dq, low, high in the
// element-times-mean-contribution normalisation, such as disp.tsv) adds, beside
// each box, the element's range at its level `dq`, converted to the profile's
// units by the factor's mean contribution (the ratio of the table's base to the
// bootstrap table's base over the factor's elements), as a coloured bar named in
// a legend. Without intervals the chart is the bootstrap's alone.
struct IntervalMarks {
  const TextTable* table = nullptr;
  double dq = 0.0;          ///< the level drawn
  std::string label;        ///< the legend's text
  const char* colour = "";  ///< the bar's colour
  double offset = 0.5;      ///< where in the category the bar stands (0 .. 1)
};
std::vector<std::pair<std::string, std::string>> bootstrap_charts(const TextTable& bootstrap,
                                                                  const std::vector<IntervalMarks>& intervals = {});

// The level of an interval table to draw: `preferred` when the table has it, else
// its highest level; NaN for a table without levels.
double drawn_level(const TextTable& intervals, double preferred);

// From the bootstrap mapping table (factor, mapped, unmapped, failed): per row, whether
// the factor was mapped in fewer than kWellMappedShare of the fitted replicates.
std::vector<bool> weakly_mapped(const TextTable& mapping);
