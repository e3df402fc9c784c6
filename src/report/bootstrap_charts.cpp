#include "report/bootstrap_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "report/svg_chart.h"

namespace {

double number(const std::vector<std::string>& row, std::size_t column) {
  if (column >= row.size() || row[column].empty()) return std::numeric_limits<double>::quiet_NaN();
  char* end = nullptr;
  const double value = std::strtod(row[column].c_str(), &end);
  return end != nullptr && *end == '\0' ? value : std::numeric_limits<double>::quiet_NaN();
}

// The ranges of one factor's elements from an interval table at level dq, in the
// order of `variables`, in the profile's units: the table's values divided by the
// factor's mean contribution, the first finite ratio of the table's base to the
// profile's base `bases` (NaN where the table has no row or no ratio is known).
void factor_ranges(const TextTable& table, double dq, const std::string& factor,
                   const std::vector<std::string>& variables, const std::vector<double>& bases,
                   std::vector<double>* lows, std::vector<double>* highs) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  lows->assign(variables.size(), nan);
  highs->assign(variables.size(), nan);
  std::vector<double> table_base(variables.size(), nan);
  for (const std::vector<std::string>& row : table.rows) {
    if (row.size() < 6 || row[0] != factor || number(row, 3) != dq) continue;
    for (std::size_t i = 0; i < variables.size(); ++i) {
      if (row[1] != variables[i]) continue;
      (*lows)[i] = number(row, 4);
      (*highs)[i] = number(row, 5);
      table_base[i] = number(row, 2);
    }
  }
  double mean = nan;
  for (std::size_t i = 0; i < variables.size() && std::isnan(mean); ++i) {
    if (bases[i] > 0 && table_base[i] > 0 && std::isfinite(table_base[i] / bases[i])) mean = table_base[i] / bases[i];
  }
  for (std::size_t i = 0; i < variables.size(); ++i) {
    (*lows)[i] = (*lows)[i] / mean;
    (*highs)[i] = (*highs)[i] / mean;
  }
}

}  // namespace

double drawn_level(const TextTable& intervals, double preferred) {
  double highest = std::numeric_limits<double>::quiet_NaN();
  for (const std::vector<std::string>& row : intervals.rows) {
    const double dq = number(row, 3);
    if (dq == preferred) return dq;
    if (!(dq <= highest)) highest = std::isnan(dq) ? highest : dq;
  }
  return highest;
}

std::vector<std::pair<std::string, std::string>> bootstrap_charts(const TextTable& bootstrap,
                                                                  const std::vector<IntervalMarks>& intervals) {
  std::vector<std::pair<std::string, std::string>> charts;
  std::size_t begin = 0;
  std::size_t index = 0;
  while (begin < bootstrap.rows.size()) {
    const std::string factor = bootstrap.rows[begin].empty() ? std::string() : bootstrap.rows[begin][0];
    std::size_t end = begin;
    while (end < bootstrap.rows.size() && !bootstrap.rows[end].empty() && bootstrap.rows[end][0] == factor) ++end;
    if (end == begin) ++end;  // a row without cells: skip it
    std::vector<std::string> names;
    std::vector<Chart::Box> boxes;
    std::vector<double> xs, base;
    double lo = std::numeric_limits<double>::infinity(), hi = 0.0;
    for (std::size_t r = begin; r < end; ++r) {
      const std::vector<std::string>& row = bootstrap.rows[r];
      names.push_back(row.size() > 1 ? row[1] : std::string());
      const Chart::Box box{number(row, 3), number(row, 4), number(row, 5), number(row, 6), number(row, 7)};
      boxes.push_back(box);
      xs.push_back(static_cast<double>(r - begin) + 0.5);
      base.push_back(number(row, 2));
      for (double v : {box.p05, box.p25, box.p50, box.p75, box.p95, base.back()}) {
        if (v > 0 && std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
      }
    }
    std::vector<std::vector<double>> lows(intervals.size()), highs(intervals.size());
    std::vector<std::string> legend;
    std::vector<const char*> colours;
    for (std::size_t m = 0; m < intervals.size(); ++m) {
      factor_ranges(*intervals[m].table, intervals[m].dq, factor, names, base, &lows[m], &highs[m]);
      for (std::size_t i = 0; i < names.size(); ++i) {
        for (double v : {lows[m][i], highs[m][i]}) {
          if (v > 0 && std::isfinite(v)) lo = std::min(lo, v), hi = std::max(hi, v);
        }
      }
      legend.push_back(intervals[m].label);
      colours.push_back(intervals[m].colour);
    }
    if (!(hi > 0)) lo = 1e-3, hi = 1.0;
    Chart chart(880, 340, "Bootstrap spread of " + factor + " (box 25-75 %, whiskers 5-95 %, dot: base)");
    if (!legend.empty()) chart.legend(legend, colours);
    chart.x_categories(names, "variable");
    chart.y_axis(lo / 2, hi * 2, true, "profile (log)");
    chart.boxes(boxes, factor_colour(index));
    chart.points(xs, base, "#000", 5.0);
    for (std::size_t m = 0; m < intervals.size(); ++m) {
      chart.ranges(lows[m], highs[m], intervals[m].offset, intervals[m].colour);
    }
    charts.emplace_back(factor, chart.svg());
    begin = end;
    ++index;
  }
  return charts;
}

std::vector<bool> weakly_mapped(const TextTable& mapping) {
  std::vector<bool> weak;
  for (const std::vector<std::string>& row : mapping.rows) {
    const double mapped = number(row, 1);
    const double unmapped = number(row, 2);
    const double fitted = mapped + unmapped;
    weak.push_back(!(fitted > 0) || mapped < kWellMappedShare * fitted);
  }
  return weak;
}
