#include "report/report_charts.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

#include "report/dates.h"
#include "report/svg_chart.h"

namespace {

constexpr int kWide = 880;
constexpr int kColumns = 800;   // pixel columns a long series is thinned to
constexpr int kGrid = 60;       // cells per side a scatter of many points is thinned to
constexpr double kGapSteps = 20;  // a step this many times the usual spacing is a gap in a series

struct Range {
  double lo = 0, hi = 0;
  bool any = false;
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = any ? std::min(lo, v) : v;
    hi = any ? std::max(hi, v) : v;
    any = true;
  }
};

Range positive_range(const std::vector<double>& values) {
  Range r;
  for (double v : values) {
    if (v > 0) r.add(v);
  }
  return r;
}

// Linear range from zero (or below) with a little room above.
void linear_from_zero(const std::vector<double>& values, double* lo, double* hi) {
  Range r;
  for (double v : values) r.add(v);
  *lo = r.any ? std::min(0.0, r.lo) : 0.0;
  *hi = r.any ? std::max(r.hi * 1.05, *lo + 1e-12) : 1.0;
  if (*hi <= 0) *hi = 1.0;
}

// Keeps the first point in each cell of a kGrid x kGrid grid over the ranges.
void thin_by_grid(const std::vector<double>& xs, const std::vector<double>& ys, double x_hi, double y_hi,
                  double x_lo, double y_lo, std::vector<double>* out_x, std::vector<double>* out_y) {
  std::vector<char> taken(static_cast<std::size_t>((kGrid + 1) * (kGrid + 1)), 0);
  for (std::size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
    if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) continue;
    const long cx = std::clamp(static_cast<long>((xs[i] - x_lo) / (x_hi - x_lo) * kGrid), 0L, long{kGrid});
    const long cy = std::clamp(static_cast<long>((ys[i] - y_lo) / (y_hi - y_lo) * kGrid), 0L, long{kGrid});
    char& cell = taken[static_cast<std::size_t>(cx * (kGrid + 1) + cy)];
    if (cell != 0) continue;
    cell = 1;
    out_x->push_back(xs[i]);
    out_y->push_back(ys[i]);
  }
}

// The ends of the runs of rising times xs between gaps (a step far longer than
// their usual spacing, the median step): a run is [previous end, end). The last
// end is xs.size().
std::vector<std::size_t> gap_ends(const std::vector<double>& xs) {
  std::vector<double> steps;
  for (std::size_t i = 1; i < xs.size(); ++i) steps.push_back(xs[i] - xs[i - 1]);
  double usual = 0.0;
  if (!steps.empty()) {
    std::nth_element(steps.begin(), steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2), steps.end());
    usual = steps[steps.size() / 2];
  }
  std::vector<std::size_t> ends;
  for (std::size_t i = 1; i <= xs.size(); ++i) {
    if (i == xs.size() || (usual > 0 && xs[i] - xs[i - 1] > kGapSteps * usual)) ends.push_back(i);
  }
  return ends;
}

}  // namespace

TimeAxis time_axis(const std::vector<std::string>& ids) {
  TimeAxis time;
  time.at.resize(ids.size());
  time.dates = !ids.empty();
  for (std::size_t s = 0; s < ids.size() && time.dates; ++s) {
    std::optional<double> day = parse_date(ids[s]);
    if (day) {
      time.at[s] = *day;
    } else {
      time.dates = false;
    }
  }
  if (!time.dates) {
    for (std::size_t s = 0; s < ids.size(); ++s) time.at[s] = static_cast<double>(s + 1);
  }
  time.order.resize(ids.size());
  std::iota(time.order.begin(), time.order.end(), std::size_t{0});
  std::stable_sort(time.order.begin(), time.order.end(),
                   [&](std::size_t a, std::size_t b) { return time.at[a] < time.at[b]; });
  return time;
}

std::string pass_chart(const std::string& title, const std::vector<double>& every, const std::string& label,
                       std::size_t first) {
  Chart chart(kWide, 260, title);
  first = std::min(first, every.size() > 0 ? every.size() - 1 : 0);
  const std::vector<double> values(every.begin() + static_cast<std::ptrdiff_t>(first), every.end());
  std::vector<double> passes(values.size());
  std::iota(passes.begin(), passes.end(), static_cast<double>(first + 1));
  chart.x_axis(static_cast<double>(first + 1), std::max<double>(static_cast<double>(first + 2), static_cast<double>(every.size())),
               false, "pass");
  const Range r = positive_range(values);
  const bool log = r.any && r.hi / r.lo > 30;
  if (log) {
    chart.y_axis(power_of_ten(static_cast<int>(std::floor(std::log10(r.lo)))),
                 power_of_ten(static_cast<int>(std::ceil(std::log10(r.hi)))), true, label);
  } else {
    Range all;
    for (double v : values) all.add(v);
    const double pad = all.any ? (all.hi - all.lo) * 0.05 + std::fabs(all.hi) * 1e-9 : 1;
    chart.y_axis(all.any ? all.lo - pad : 0, all.any ? all.hi + pad : 1, false, label);
  }
  std::vector<double> xs, ys;
  thin_by_column(passes, values, kColumns, &xs, &ys);
  chart.line(xs, ys, factor_colour(0));
  return chart.svg();
}

std::string variable_bars(const std::string& title, const std::vector<std::string>& variables,
                          const std::vector<double>& values, bool log, const char* colour, const std::string& label,
                          double fixed_max) {
  Chart chart(kWide, 250, title);
  chart.x_categories(variables, "");
  if (log) {
    const Range r = positive_range(values);
    const double lo = r.any ? power_of_ten(static_cast<int>(std::floor(std::log10(r.lo)))) : 1e-3;
    const double hi = r.any ? power_of_ten(static_cast<int>(std::ceil(std::log10(r.hi) + 1e-9))) : 1.0;
    chart.y_axis(lo, std::max(hi, lo * 10), true, label);
  } else if (fixed_max > 0) {
    chart.y_axis(0, fixed_max, false, label);
  } else {
    double lo, hi;
    linear_from_zero(values, &lo, &hi);
    chart.y_axis(lo, hi, false, label);
  }
  chart.bars(values, colour);
  if (log) chart.zero_marks(values);
  return chart.svg();
}

std::string fingerprint_chart(const std::vector<std::string>& variables, const std::vector<std::string>& factors,
                              const std::vector<std::vector<double>>& percent_by_factor) {
  Chart chart(kWide, 320, "Fingerprint: each species' total split among the factors");
  chart.legend(factors);
  chart.x_categories(variables, "");
  chart.y_axis(0, 100, false, "share of species total (%)");
  chart.stacked_bars(percent_by_factor);
  return chart.svg();
}

namespace {

// The records in time order on the chart's x axis (dates or record numbers).
void time_x_axis(Chart& chart, const TimeAxis& time) {
  const double lo = time.order.empty() ? 0 : time.at[time.order.front()];
  const double hi = time.order.empty() ? 1 : time.at[time.order.back()];
  if (time.dates) {
    chart.x_dates(lo, hi, "date");
  } else {
    chart.x_axis(lo, hi, false, "record");
  }
}

// A series over the records' time axis as a line, thinned per pixel column; a gap
// in the records (far longer than their usual spacing) breaks the line.
void time_series(Chart& chart, const TimeAxis& time, const std::vector<double>& values, const char* colour) {
  std::vector<double> xs, ys;
  xs.reserve(time.order.size());
  ys.reserve(time.order.size());
  for (std::size_t s : time.order) {
    xs.push_back(time.at[s]);
    ys.push_back(values[s]);
  }
  const double lo = xs.empty() ? 0 : xs.front();
  const double hi = xs.empty() ? 1 : xs.back();
  const int columns = static_cast<int>(kColumns);
  std::size_t begin = 0;
  for (std::size_t i : gap_ends(xs)) {
    const std::vector<double> part_x(xs.begin() + static_cast<std::ptrdiff_t>(begin), xs.begin() + static_cast<std::ptrdiff_t>(i));
    const std::vector<double> part_y(ys.begin() + static_cast<std::ptrdiff_t>(begin), ys.begin() + static_cast<std::ptrdiff_t>(i));
    const double share = (part_x.back() - part_x.front()) / std::max(hi - lo, 1e-300);
    std::vector<double> thin_x, thin_y;
    thin_by_column(part_x, part_y, std::max(1, static_cast<int>(columns * share)), &thin_x, &thin_y);
    if (thin_x.size() == 1) {
      chart.points(thin_x, thin_y, colour, 2.0);
    } else {
      chart.line(thin_x, thin_y, colour, 1.0);
    }
    begin = i;
  }
}

}  // namespace

std::string time_chart(const std::string& title, const TimeAxis& time, const std::vector<double>& values,
                       const char* colour, const std::string& label) {
  Chart chart(kWide, 220, title);
  time_x_axis(chart, time);
  double y_lo, y_hi;
  linear_from_zero(values, &y_lo, &y_hi);
  chart.y_axis(y_lo, y_hi, false, label);
  time_series(chart, time, values, colour);
  return chart.svg();
}

std::string observed_predicted_chart(const std::string& title, const TimeAxis& time, const std::vector<double>& observed,
                                     const std::vector<double>& predicted, const std::string& label) {
  Chart chart(kWide, 260, title);
  chart.legend({"observed", "predicted"});
  time_x_axis(chart, time);
  std::vector<double> both = observed;
  both.insert(both.end(), predicted.begin(), predicted.end());
  double y_lo, y_hi;
  linear_from_zero(both, &y_lo, &y_hi);
  chart.y_axis(y_lo, y_hi, false, label);
  time_series(chart, time, observed, factor_colour(0));
  time_series(chart, time, predicted, factor_colour(1));
  return chart.svg();
}

std::string stacked_time_chart(const std::string& title, const TimeAxis& time, const std::vector<std::string>& factors,
                               const std::vector<std::vector<double>>& parts, const std::string& label) {
  Chart chart(kWide, 300, title);
  chart.legend(factors);
  time_x_axis(chart, time);
  // Long series are drawn as the mean of each pixel column, so the areas stay
  // light and still stack to the mean total there.
  std::vector<double> xs;
  std::vector<std::vector<double>> means(parts.size());
  const std::size_t n = time.order.size();
  const double lo = n == 0 ? 0 : time.at[time.order.front()];
  const double span = n == 0 ? 1 : std::max(time.at[time.order.back()] - lo, 1e-300);
  for (std::size_t i = 0; i < n;) {
    const auto column = [&](std::size_t k) {
      return n <= static_cast<std::size_t>(kColumns) ? static_cast<long>(k)
                                                     : static_cast<long>((time.at[time.order[k]] - lo) / span * kColumns);
    };
    std::size_t end = i + 1;
    while (end < n && column(end) == column(i)) ++end;
    double x = 0;
    for (std::size_t k = i; k < end; ++k) x += time.at[time.order[k]];
    xs.push_back(x / static_cast<double>(end - i));
    for (std::size_t f = 0; f < parts.size(); ++f) {
      double sum = 0;
      for (std::size_t k = i; k < end; ++k) sum += std::max(0.0, parts[f][time.order[k]]);
      means[f].push_back(sum / static_cast<double>(end - i));
    }
    i = end;
  }
  std::vector<double> top(xs.size(), 0.0);
  for (const std::vector<double>& m : means) {
    for (std::size_t i = 0; i < m.size(); ++i) top[i] += m[i];
  }
  double y_lo, y_hi;
  linear_from_zero(top, &y_lo, &y_hi);
  chart.y_axis(y_lo, y_hi, false, label);
  // A gap in the records (far longer than their usual spacing) breaks the areas.
  std::size_t begin = 0;
  for (std::size_t i : gap_ends(xs)) {
    const auto from = static_cast<std::ptrdiff_t>(begin), to = static_cast<std::ptrdiff_t>(i);
    std::vector<std::vector<double>> part(means.size());
    for (std::size_t f = 0; f < means.size(); ++f) part[f].assign(means[f].begin() + from, means[f].begin() + to);
    chart.stacked_areas(std::vector<double>(xs.begin() + from, xs.begin() + to), part);
    begin = i;
  }
  return chart.svg();
}

std::string pair_chart(const std::string& fname, const std::string& gname, const std::vector<double>& xf,
                       const std::vector<double>& xg) {
  Chart chart(290, 260, fname + " / " + gname);
  double xlo, xhi, ylo, yhi;
  linear_from_zero(xf, &xlo, &xhi);
  linear_from_zero(xg, &ylo, &yhi);
  chart.x_axis(xlo, xhi, false, fname);
  chart.y_axis(ylo, yhi, false, gname);
  std::vector<double> xs, ys;
  thin_by_grid(xf, xg, xhi, yhi, xlo, ylo, &xs, &ys);
  chart.points(xs, ys, factor_colour(0), 3.0);
  return chart.svg();
}

std::string fit_chart(const std::string& variable, const std::vector<double>& observed,
                      const std::vector<double>& fitted, const std::string& r2, const std::string& unit) {
  Chart chart(290, 260, variable);
  Range r;
  for (double v : observed) r.add(v);
  for (double v : fitted) r.add(v);
  const double lo = r.any ? std::min(0.0, r.lo) : 0.0;
  const double hi = r.any && r.hi > lo ? r.hi * 1.05 : lo + 1.0;
  const std::string in_unit = unit.empty() ? std::string() : " (" + unit + ")";
  chart.x_axis(lo, hi, false, "observed" + in_unit);
  chart.y_axis(lo, hi, false, "fitted" + in_unit);
  chart.reference_line(lo, lo, hi, hi);
  chart.points(observed, fitted, factor_colour(0), 3.0);
  chart.note("R\xc2\xb2 = " + r2);
  return chart.svg();
}

std::string residual_chart(const std::string& variable, const std::vector<double>& edges,
                           const std::vector<double>& counts) {
  Chart chart(290, 260, variable + ": scaled residuals");
  const double top = counts.empty() ? 1.0 : std::max(1.0, *std::max_element(counts.begin(), counts.end()) * 1.05);
  chart.x_axis(edges.empty() ? -1 : edges.front(), edges.empty() ? 1 : edges.back(), false,
               "residual / uncertainty");
  chart.y_axis(0, top, false, "records");
  chart.histogram(edges, counts, factor_colour(4));
  return chart.svg();
}

std::string apportionment_chart(const std::string& variable, const std::vector<std::string>& factors,
                                const std::vector<double>& means, const std::string& label) {
  Chart chart(kWide, 260, "Mean contribution of each factor to " + variable);
  chart.x_categories(factors, "");
  double lo, hi;
  linear_from_zero(means, &lo, &hi);
  chart.y_axis(lo, hi, false, label);
  for (std::size_t f = 0; f < means.size(); ++f) {
    std::vector<double> one(means.size(), std::nan(""));
    one[f] = means[f];
    chart.bars(one, factor_colour(f));
  }
  return chart.svg();
}
