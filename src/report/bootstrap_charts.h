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
std::vector<std::pair<std::string, std::string>> bootstrap_charts(const TextTable& bootstrap);

// From the bootstrap mapping table (factor, mapped, unmapped, failed): per row, whether
// the factor was mapped in fewer than kWellMappedShare of the fitted replicates.
std::vector<bool> weakly_mapped(const TextTable& mapping);
