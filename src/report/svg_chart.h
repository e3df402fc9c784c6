// The small chart layer of the report: axes with round-number ticks (linear,
// logarithmic, dates, categories), lines, points, bars and legends, drawn as one
// self-contained SVG element. Every text passes through escape_text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Text for HTML and SVG: & < > " ' as entities; bytes that are not valid UTF-8 and
// control characters (which XML does not allow) become U+FFFD.
std::string escape_text(std::string_view text);

// 10 to the power k, correctly rounded on every system (std::pow may be off by a
// unit in the last place in some C libraries, which would move a tick).
double power_of_ten(int k);

// Round-number ticks covering [lo, hi]: about `target` of them, steps of 1, 2 or
// 5 times a power of ten.
std::vector<double> linear_ticks(double lo, double hi, int target = 5);
// Every power of ten within [lo, hi] (lo > 0), and the two around the range; the
// axes label every decade, or every second or fifth when they lie too close.
std::vector<double> log_ticks(double lo, double hi);

// Names on axes and legends: a longer name is shown shortened to this many
// characters (the last an ellipsis), with the full name as its tooltip.
constexpr std::size_t kLongestLabel = 18;
constexpr std::size_t kLongestLegend = 24;
std::string shortened_name(std::string_view name, std::size_t longest);
// A tick's label: at most 6 significant digits, no trailing zeros.
std::string tick_label(double value);

// A colour per factor, distinguishable for colour-blind readers; the same index
// gives the same colour in every chart.
const char* factor_colour(std::size_t index);

// Keeps, per pixel column of the x range, the first, lowest, highest and last
// point of a series sorted by x: a long series stays light and keeps its peaks.
void thin_by_column(const std::vector<double>& xs, const std::vector<double>& ys, int columns,
                    std::vector<double>* out_x, std::vector<double>* out_y);

class Chart {
 public:
  // A chart of the given pixel size; the title is drawn above the plot area.
  Chart(int width, int height, std::string_view title);

  // Call legend and x_categories before y_axis: they make room for themselves.
  // The axes. A logarithmic axis needs lo > 0. Dates are in days since 1970-01-01.
  void x_axis(double lo, double hi, bool log, std::string_view label);
  void x_dates(double lo, double hi, std::string_view label);
  void x_categories(const std::vector<std::string>& names, std::string_view label);
  void y_axis(double lo, double hi, bool log, std::string_view label);

  // A line through the points in order; a point that is not finite (or not
  // positive on a log axis) breaks it.
  void line(const std::vector<double>& xs, const std::vector<double>& ys, const char* colour, double width = 1.5);
  // Round dots.
  void points(const std::vector<double>& xs, const std::vector<double>& ys, const char* colour, double size = 3.0);
  // Bars of category i from the axis floor (0, or the bottom of a log axis) to
  // values[i]; `slot` of `slots` side by side within each category.
  void bars(const std::vector<double>& values, const char* colour, int slot = 0, int slots = 1);
  // On a log axis: an open triangle at the floor of category i for each values[i]
  // that is exactly 0, which no bar can show there.
  void zero_marks(const std::vector<double>& values);
  // Bars of category i stacked from 0: part k of category i is parts[k][i].
  void stacked_bars(const std::vector<std::vector<double>>& parts);
  // Areas stacked from 0 over numeric x: area k lies between the sums of parts
  // 0..k-1 and 0..k at each xs[i], in factor k's colour.
  void stacked_areas(const std::vector<double>& xs, const std::vector<std::vector<double>>& parts);
  // Bars between numeric x edges (a histogram): bar i spans [edges[i], edges[i + 1]).
  void histogram(const std::vector<double>& edges, const std::vector<double>& counts, const char* colour);
  // Box plots, one per category: whiskers from p05 to p95, a box from p25 to p75
  // and a line at the median. Values beyond the y range are drawn at its edge; a
  // box with a value that is not finite is left out.
  struct Box {
    double p05, p25, p50, p75, p95;
  };
  void boxes(const std::vector<Box>& values, const char* colour);
  // A straight line between two points in data coordinates, dashed.
  void reference_line(double x1, double y1, double x2, double y2);
  // A note in the top left of the plot area.
  void note(std::string_view text);
  // A legend of factor names with their colours, above the plot area.
  void legend(const std::vector<std::string>& names);
  // A legend of names with the given colours (one per name), above the plot area.
  void legend(const std::vector<std::string>& names, const std::vector<const char*>& colours);
  // A vertical range per category i from lows[i] to highs[i] with short caps, at
  // x = i + offset (offset within 0 .. 1). An end beyond the y range (0 on a log
  // axis, infinity) is drawn at its edge without a cap; a range with an end that
  // is NaN is left out.
  void ranges(const std::vector<double>& lows, const std::vector<double>& highs, double offset, const char* colour);

  // The whole <svg> element.
  std::string svg() const;

 private:
  double px(double x) const;
  double py(double y) const;
  bool inside_x(double x) const;
  bool inside_y(double y) const;

  int width_;
  int height_;
  double left_ = 64, right_ = 28, top_ = 30, bottom_ = 46;
  double x_lo_ = 0, x_hi_ = 1, y_lo_ = 0, y_hi_ = 1;
  bool x_log_ = false, y_log_ = false;
  std::size_t categories_ = 0;
  std::string title_;
  std::string axes_;
  std::string body_;
};
