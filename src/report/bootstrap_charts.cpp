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

}  // namespace

std::vector<std::pair<std::string, std::string>> bootstrap_charts(const TextTable& bootstrap) {
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
    if (!(hi > 0)) lo = 1e-3, hi = 1.0;
    Chart chart(880, 340, "Bootstrap spread of " + factor + " (box 25-75 %, whiskers 5-95 %, dot: base)");
    chart.x_categories(names, "variable");
    chart.y_axis(lo / 2, hi * 2, true, "profile (log)");
    chart.boxes(boxes, factor_colour(index));
    chart.points(xs, base, "#000", 5.0);
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
