#include "report/svg_chart.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "control/text_format.h"
#include "report/dates.h"

namespace {

// Coordinates to a tenth of a pixel keep long series small.
std::string coord(double v) {
  std::string s = format_text("%.1f", v);
  if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) s.resize(s.size() - 2);
  return s;
}

double to_axis(double v, bool log) { return log ? std::log10(v) : v; }

// Length of the UTF-8 sequence starting at text[i], 0 when it is not valid.
std::size_t utf8_length(std::string_view text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t n = 0;
  unsigned min = 0;
  unsigned code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xc2 && lead <= 0xdf) {
    n = 2, min = 0x80, code = lead & 0x1fu;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    n = 3, min = 0x800, code = lead & 0x0fu;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    n = 4, min = 0x10000, code = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xc0) != 0x80) return 0;
    code = (code << 6) | (c & 0x3fu);
  }
  if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff) || code == 0xfffe || code == 0xffff) return 0;
  return n;
}

// Pixels a text of `size` px takes, roughly (Helvetica averages a little over half
// its size per character; bytes that continue a UTF-8 character do not count).
double text_width(std::string_view text, double size) {
  double characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xc0) == 0x80 ? 0.0 : 1.0;
  return characters * size * 0.58;
}

// The text content of a label: the name, or when it is longer than `longest`
// characters its shortened form with the full name as the tooltip.
std::string label_content(std::string_view name, std::size_t longest) {
  const std::string shown = shortened_name(name, longest);
  if (shown == name) return escape_text(name);
  return "<title>" + escape_text(name) + "</title>" + escape_text(shown);
}

// The decades of a log axis that carry a label: every one when they are at least
// `gap` pixels apart, otherwise every second, fifth or tenth.
int decade_stride(double pixels_per_decade, double gap) {
  for (int stride : {1, 2, 5, 10}) {
    if (pixels_per_decade * stride >= gap) return stride;
  }
  return 20;
}

bool labelled_decade(double tick, int stride) {
  const long k = std::lround(std::log10(tick));
  return k % stride == 0;
}

}  // namespace

std::string escape_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t n = utf8_length(text, i);
    if (n == 0 || (n == 1 && static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) {
      out += "\xef\xbf\xbd";
      i += n == 0 ? 1 : n;
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}

std::vector<double> linear_ticks(double lo, double hi, int target) {
  std::vector<double> ticks;
  if (!std::isfinite(lo) || !std::isfinite(hi) || target < 1) return ticks;
  if (hi < lo) std::swap(lo, hi);
  if (hi == lo) return {lo};
  const double raw = (hi - lo) / target;
  const double power = power_of_ten(static_cast<int>(std::floor(std::log10(raw))));
  double step = power;
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    step = m * power;
    if (step >= raw) break;
  }
  const double first = std::ceil(lo / step - 1e-9);
  for (double k = first; k * step <= hi + step * 1e-9; k += 1.0) {
    const double t = k * step;
    ticks.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  }
  return ticks;
}

double power_of_ten(int k) {
  const std::string text = "1e" + std::to_string(k);
  return std::strtod(text.c_str(), nullptr);
}

std::vector<double> log_ticks(double lo, double hi) {
  std::vector<double> ticks;
  if (!(lo > 0) || !std::isfinite(hi) || hi < lo) return ticks;
  const int first = static_cast<int>(std::floor(std::log10(lo) + 1e-9));
  const int last = static_cast<int>(std::ceil(std::log10(hi) - 1e-9));
  for (int k = first; k <= last; ++k) ticks.push_back(power_of_ten(k));
  return ticks;
}

std::string shortened_name(std::string_view name, std::size_t longest) {
  if (name.size() <= longest) return std::string(name);
  std::size_t cut = longest - 1;
  // Never cut a UTF-8 sequence: back up to the start of a character.
  while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xc0) == 0x80) --cut;
  return std::string(name.substr(0, cut)) + "\xe2\x80\xa6";
}

std::string tick_label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

const char* factor_colour(std::size_t index) {
  // Okabe and Ito's colours, then Paul Tol's muted scheme.
  static constexpr std::array<const char*, 15> kColours = {
      "#0072B2", "#E69F00", "#009E73", "#CC79A7", "#56B4E9", "#D55E00", "#F0E442", "#332288",
      "#88CCEE", "#44AA99", "#117733", "#999933", "#DDCC77", "#CC6677", "#882255"};
  return kColours[index % kColours.size()];
}

void thin_by_column(const std::vector<double>& xs, const std::vector<double>& ys, int columns,
                    std::vector<double>* out_x, std::vector<double>* out_y) {
  out_x->clear();
  out_y->clear();
  const std::size_t n = std::min(xs.size(), ys.size());
  if (n <= static_cast<std::size_t>(columns) * 4) {
    out_x->assign(xs.begin(), xs.begin() + static_cast<std::ptrdiff_t>(n));
    out_y->assign(ys.begin(), ys.begin() + static_cast<std::ptrdiff_t>(n));
    return;
  }
  const double lo = xs.front();
  const double span = xs[n - 1] - lo;
  std::size_t i = 0;
  while (i < n) {
    const long column = span > 0 ? static_cast<long>((xs[i] - lo) / span * columns) : 0;
    std::size_t end = i + 1;
    while (end < n && (span > 0 ? static_cast<long>((xs[end] - lo) / span * columns) : 0) == column) ++end;
    std::size_t low = i;
    std::size_t high = i;
    for (std::size_t k = i; k < end; ++k) {
      if (ys[k] < ys[low]) low = k;
      if (ys[k] > ys[high]) high = k;
    }
    std::array<std::size_t, 4> keep = {i, std::min(low, high), std::max(low, high), end - 1};
    std::size_t last = n;
    for (std::size_t k : keep) {
      if (k == last) continue;
      out_x->push_back(xs[k]);
      out_y->push_back(ys[k]);
      last = k;
    }
    i = end;
  }
}

Chart::Chart(int width, int height, std::string_view title) : width_(width), height_(height), title_(title) {}

double Chart::px(double x) const {
  const double v = to_axis(x, x_log_);
  const double lo = to_axis(x_lo_, x_log_);
  const double hi = to_axis(x_hi_, x_log_);
  return left_ + (v - lo) / (hi - lo) * (width_ - left_ - right_);
}

double Chart::py(double y) const {
  const double v = to_axis(y, y_log_);
  const double lo = to_axis(y_lo_, y_log_);
  const double hi = to_axis(y_hi_, y_log_);
  return height_ - bottom_ - (v - lo) / (hi - lo) * (height_ - top_ - bottom_);
}

bool Chart::inside_x(double x) const { return std::isfinite(x) && (!x_log_ || x > 0); }
bool Chart::inside_y(double y) const { return std::isfinite(y) && (!y_log_ || y > 0); }

void Chart::x_axis(double lo, double hi, bool log, std::string_view label) {
  if (!(hi > lo)) hi = lo + (log ? lo : 1.0);
  x_lo_ = lo, x_hi_ = hi, x_log_ = log;
  const double y = height_ - bottom_;
  const int stride = log ? decade_stride((width_ - left_ - right_) / (std::log10(hi) - std::log10(lo)), 36) : 1;
  for (double t : log ? log_ticks(lo, hi) : linear_ticks(lo, hi, 6)) {
    if (t < lo || t > hi) continue;
    axes_ += "<line class=\"tick\" x1=\"" + coord(px(t)) + "\" y1=\"" + coord(y) + "\" x2=\"" + coord(px(t)) +
             "\" y2=\"" + coord(y + 4) + "\"/>";
    if (log && !labelled_decade(t, stride)) continue;
    axes_ += "<text x=\"" + coord(px(t)) + "\" y=\"" + coord(y + 16) + "\" text-anchor=\"middle\">" +
             tick_label(t) + "</text>";
  }
  axes_ += "<text x=\"" + coord((left_ + width_ - right_) / 2) + "\" y=\"" + coord(height_ - 8.0) +
           "\" text-anchor=\"middle\">" + escape_text(label) + "</text>";
}

void Chart::x_dates(double lo, double hi, std::string_view label) {
  if (!(hi > lo)) hi = lo + 1;
  x_lo_ = lo, x_hi_ = hi, x_log_ = false;
  const double y = height_ - bottom_;
  for (const DateTick& t : date_ticks(lo, hi)) {
    axes_ += "<line class=\"tick\" x1=\"" + coord(px(t.day)) + "\" y1=\"" + coord(y) + "\" x2=\"" + coord(px(t.day)) +
             "\" y2=\"" + coord(y + 4) + "\"/><text x=\"" + coord(px(t.day)) + "\" y=\"" + coord(y + 16) +
             "\" text-anchor=\"middle\">" + t.label + "</text>";
  }
  axes_ += "<text x=\"" + coord((left_ + width_ - right_) / 2) + "\" y=\"" + coord(height_ - 8.0) +
           "\" text-anchor=\"middle\">" + escape_text(label) + "</text>";
}

void Chart::x_categories(const std::vector<std::string>& names, std::string_view label) {
  categories_ = names.size();
  x_lo_ = 0, x_hi_ = static_cast<double>(std::max<std::size_t>(names.size(), 1)), x_log_ = false;
  // Names run down at 50 degrees, or straight down when the categories are too
  // narrow for slanted labels to clear each other; the bottom margin grows to the
  // longest name shown. A name longer than kLongestLabel is shortened, the full
  // name its tooltip.
  const double slot = (width_ - left_ - right_) / x_hi_;
  const bool upright = slot < 17;
  const double size = slot < 12 ? 9 : 11;
  double longest = 0;
  for (const std::string& name : names) longest = std::max(longest, text_width(shortened_name(name, kLongestLabel), size));
  const double drop = upright ? longest : longest * 0.77;
  bottom_ = std::max(46.0, std::ceil(drop) + 28);
  if (!upright) left_ = std::max(left_, std::ceil(longest * 0.64 - slot / 2 + 4));
  const std::string angle = upright ? "-90" : "-50";
  for (std::size_t i = 0; i < names.size(); ++i) {
    const double x = px(static_cast<double>(i) + 0.5) + (upright ? size / 3 : 0);
    const double y = height_ - bottom_ + 10;
    axes_ += "<text x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" font-size=\"" + coord(size) +
             "\" text-anchor=\"end\" transform=\"rotate(" + angle + " " + coord(x) + " " + coord(y) + ")\">" +
             label_content(names[i], kLongestLabel) + "</text>";
  }
  axes_ += "<text x=\"" + coord((left_ + width_ - right_) / 2) + "\" y=\"" + coord(height_ - 4.0) +
           "\" text-anchor=\"middle\">" + escape_text(label) + "</text>";
}

void Chart::y_axis(double lo, double hi, bool log, std::string_view label) {
  if (!(hi > lo)) hi = lo + (log ? lo : 1.0);
  y_lo_ = lo, y_hi_ = hi, y_log_ = log;
  const int stride = log ? decade_stride((height_ - top_ - bottom_) / (std::log10(hi) - std::log10(lo)), 13) : 1;
  for (double t : log ? log_ticks(lo, hi) : linear_ticks(lo, hi, 5)) {
    if (t < lo || t > hi) continue;
    axes_ += "<line class=\"grid\" x1=\"" + coord(left_) + "\" y1=\"" + coord(py(t)) + "\" x2=\"" +
             coord(width_ - right_) + "\" y2=\"" + coord(py(t)) + "\"/>";
    if (log && !labelled_decade(t, stride)) continue;
    axes_ += "<text x=\"" + coord(left_ - 5) + "\" y=\"" + coord(py(t) + 4) + "\" text-anchor=\"end\">" +
             tick_label(t) + "</text>";
  }
  const double mid = (top_ + height_ - bottom_) / 2;
  axes_ += "<text x=\"14\" y=\"" + coord(mid) + "\" text-anchor=\"middle\" transform=\"rotate(-90 14 " + coord(mid) +
           ")\">" + escape_text(label) + "</text>";
}

void Chart::line(const std::vector<double>& xs, const std::vector<double>& ys, const char* colour, double width) {
  std::string d;
  bool open = false;
  const std::size_t n = std::min(xs.size(), ys.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (!inside_x(xs[i]) || !inside_y(ys[i])) {
      open = false;
      continue;
    }
    d += (open ? "L" : "M") + coord(px(xs[i])) + " " + coord(py(std::clamp(ys[i], y_lo_, y_hi_)));
    open = true;
  }
  if (d.empty()) return;
  body_ += "<path fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"" + coord(width) +
           "\" stroke-linejoin=\"round\" d=\"" + d + "\"/>";
}

void Chart::points(const std::vector<double>& xs, const std::vector<double>& ys, const char* colour, double size) {
  // Zero-length strokes with round caps draw as dots and cost a few bytes each.
  std::string d;
  const std::size_t n = std::min(xs.size(), ys.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (!inside_x(xs[i]) || !inside_y(ys[i])) continue;
    if (xs[i] < std::min(x_lo_, x_hi_) || xs[i] > std::max(x_lo_, x_hi_)) continue;
    if (ys[i] < std::min(y_lo_, y_hi_) || ys[i] > std::max(y_lo_, y_hi_)) continue;
    d += "M" + coord(px(xs[i])) + " " + coord(py(ys[i])) + "h0";
  }
  if (d.empty()) return;
  body_ += "<path fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-opacity=\"0.6\" stroke-width=\"" +
           coord(size) + "\" stroke-linecap=\"round\" d=\"" + d + "\"/>";
}

void Chart::bars(const std::vector<double>& values, const char* colour, int slot, int slots) {
  const double floor = y_log_ ? y_lo_ : std::clamp(0.0, y_lo_, y_hi_);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!inside_y(values[i])) continue;
    const double v = std::clamp(values[i], y_lo_, y_hi_);
    const double x0 = px(static_cast<double>(i) + 0.1 + 0.8 * slot / slots);
    const double x1 = px(static_cast<double>(i) + 0.1 + 0.8 * (slot + 1) / slots);
    const double y0 = std::min(py(v), py(floor));
    const double y1 = std::max(py(v), py(floor));
    body_ += "<rect fill=\"" + std::string(colour) + "\" x=\"" + coord(x0) + "\" y=\"" + coord(y0) + "\" width=\"" +
             coord(x1 - x0) + "\" height=\"" + coord(std::max(y1 - y0, 0.5)) + "\"/>";
  }
}

void Chart::zero_marks(const std::vector<double>& values) {
  std::string d;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] != 0.0) continue;
    const double x = px(static_cast<double>(i) + 0.5);
    const double y = height_ - bottom_ - 4;
    d += "M" + coord(x - 3.5) + " " + coord(y + 3) + "L" + coord(x) + " " + coord(y - 3) + "L" + coord(x + 3.5) + " " +
         coord(y + 3) + "Z";
  }
  if (d.empty()) return;
  body_ += "<path class=\"zero\" fill=\"#fff\" stroke=\"#333\" d=\"" + d + "\"><title>0</title></path>";
}

void Chart::boxes(const std::vector<Box>& values, const char* colour) {
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Box& b = values[i];
    if (!std::isfinite(b.p05) || !std::isfinite(b.p25) || !std::isfinite(b.p50) || !std::isfinite(b.p75) ||
        !std::isfinite(b.p95)) {
      continue;
    }
    auto y = [&](double v) { return py(std::clamp(v, y_lo_, y_hi_)); };
    const double mid = px(static_cast<double>(i) + 0.5);
    const double x0 = px(static_cast<double>(i) + 0.25);
    const double x1 = px(static_cast<double>(i) + 0.75);
    body_ += "<line stroke=\"#444\" x1=\"" + coord(mid) + "\" y1=\"" + coord(y(b.p05)) + "\" x2=\"" + coord(mid) +
             "\" y2=\"" + coord(y(b.p95)) + "\"/>";
    const double top = std::min(y(b.p25), y(b.p75));
    const double bottom = std::max(y(b.p25), y(b.p75));
    body_ += "<rect fill=\"" + std::string(colour) + "\" stroke=\"#444\" x=\"" + coord(x0) + "\" y=\"" + coord(top) +
             "\" width=\"" + coord(x1 - x0) + "\" height=\"" + coord(std::max(bottom - top, 0.5)) + "\"/>";
    body_ += "<line stroke=\"#000\" stroke-width=\"2\" x1=\"" + coord(x0) + "\" y1=\"" + coord(y(b.p50)) + "\" x2=\"" +
             coord(x1) + "\" y2=\"" + coord(y(b.p50)) + "\"/>";
  }
}

void Chart::stacked_bars(const std::vector<std::vector<double>>& parts) {
  for (std::size_t i = 0; i < categories_; ++i) {
    double base = 0.0;
    for (std::size_t k = 0; k < parts.size(); ++k) {
      const double v = i < parts[k].size() ? parts[k][i] : 0.0;
      if (!(v > 0) || !std::isfinite(v)) continue;
      const double x0 = px(static_cast<double>(i) + 0.1);
      const double x1 = px(static_cast<double>(i) + 0.9);
      const double y0 = py(std::min(base + v, y_hi_));
      const double y1 = py(std::min(base, y_hi_));
      body_ += "<rect fill=\"" + std::string(factor_colour(k)) + "\" x=\"" + coord(x0) + "\" y=\"" + coord(y0) +
               "\" width=\"" + coord(x1 - x0) + "\" height=\"" + coord(y1 - y0) + "\"/>";
      base += v;
    }
  }
}

void Chart::stacked_areas(const std::vector<double>& xs, const std::vector<std::vector<double>>& parts) {
  std::vector<double> below(xs.size(), 0.0);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    std::vector<double> above = below;
    for (std::size_t i = 0; i < xs.size() && i < parts[k].size(); ++i) {
      if (std::isfinite(parts[k][i]) && parts[k][i] > 0) above[i] += parts[k][i];
    }
    std::string d;
    for (std::size_t i = 0; i < xs.size(); ++i) {
      d += (i == 0 ? "M" : "L") + coord(px(xs[i])) + " " + coord(py(std::min(above[i], y_hi_)));
    }
    for (std::size_t i = xs.size(); i-- > 0;) d += "L" + coord(px(xs[i])) + " " + coord(py(std::min(below[i], y_hi_)));
    if (!d.empty()) body_ += "<path fill=\"" + std::string(factor_colour(k)) + "\" stroke=\"none\" d=\"" + d + "Z\"/>";
    below = std::move(above);
  }
}

void Chart::histogram(const std::vector<double>& edges, const std::vector<double>& counts, const char* colour) {
  for (std::size_t i = 0; i + 1 < edges.size() && i < counts.size(); ++i) {
    if (!(counts[i] > 0)) continue;
    const double x0 = px(edges[i]);
    const double x1 = px(edges[i + 1]);
    body_ += "<rect fill=\"" + std::string(colour) + "\" stroke=\"#fff\" stroke-width=\"0.5\" x=\"" + coord(x0) +
             "\" y=\"" + coord(py(counts[i])) + "\" width=\"" + coord(x1 - x0) + "\" height=\"" +
             coord(py(y_lo_) - py(counts[i])) + "\"/>";
  }
}

void Chart::reference_line(double x1, double y1, double x2, double y2) {
  if (!inside_x(x1) || !inside_x(x2) || !inside_y(y1) || !inside_y(y2)) return;
  body_ += "<line stroke=\"#444\" stroke-dasharray=\"4 3\" x1=\"" + coord(px(x1)) + "\" y1=\"" + coord(py(y1)) +
           "\" x2=\"" + coord(px(x2)) + "\" y2=\"" + coord(py(y2)) + "\"/>";
}

void Chart::note(std::string_view text) {
  body_ += "<text x=\"" + coord(left_ + 6) + "\" y=\"" + coord(top_ + 14) + "\">" + escape_text(text) + "</text>";
}

void Chart::legend(const std::vector<std::string>& names) {
  std::vector<const char*> colours;
  for (std::size_t k = 0; k < names.size(); ++k) colours.push_back(factor_colour(k));
  legend(names, colours);
}

void Chart::ranges(const std::vector<double>& lows, const std::vector<double>& highs, double offset,
                   const char* colour) {
  const std::size_t n = std::min(lows.size(), highs.size());
  const double bottom = std::min(y_lo_, y_hi_);
  const double top = std::max(y_lo_, y_hi_);
  for (std::size_t i = 0; i < n; ++i) {
    if (std::isnan(lows[i]) || std::isnan(highs[i])) continue;
    const bool low_inside = inside_y(lows[i]) && lows[i] >= bottom;
    const bool high_inside = std::isfinite(highs[i]) && highs[i] <= top;
    const double y0 = py(low_inside ? std::min(lows[i], top) : bottom);
    const double y1 = py(high_inside ? std::max(highs[i], bottom) : top);
    const double x = px(static_cast<double>(i) + offset);
    const std::string stroke = "<line stroke=\"" + std::string(colour) + "\" stroke-width=\"2\" ";
    body_ += stroke + "x1=\"" + coord(x) + "\" y1=\"" + coord(y0) + "\" x2=\"" + coord(x) + "\" y2=\"" + coord(y1) +
             "\"/>";
    for (const auto& [inside, y] : {std::pair{low_inside, y0}, std::pair{high_inside, y1}}) {
      if (!inside) continue;
      body_ += stroke + "x1=\"" + coord(x - 4) + "\" y1=\"" + coord(y) + "\" x2=\"" + coord(x + 4) + "\" y2=\"" +
               coord(y) + "\"/>";
    }
  }
}

void Chart::legend(const std::vector<std::string>& names, const std::vector<const char*>& colours) {
  double x = left_;
  double y = 30;
  for (std::size_t k = 0; k < names.size(); ++k) {
    const std::string shown = shortened_name(names[k], kLongestLegend);
    const double w = 22 + text_width(shown, 11);
    if (x + w > width_ - right_) {
      x = left_;
      y += 14;
    }
    body_ += "<rect fill=\"" + std::string(colours[k]) + "\" x=\"" + coord(x) + "\" y=\"" + coord(y - 9) +
             "\" width=\"10\" height=\"10\"/><text x=\"" + coord(x + 13) + "\" y=\"" + coord(y) + "\">" +
             label_content(names[k], kLongestLegend) + "</text>";
    x += w;
  }
  top_ = y + 10;
}

std::string Chart::svg() const {
  const std::string w = std::to_string(width_);
  const std::string h = std::to_string(height_);
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
                    "\" viewBox=\"0 0 " + w + " " + h +
                    "\" font-family=\"Helvetica, Arial, sans-serif\" font-size=\"11\" role=\"img\">";
  out += "<title>" + escape_text(title_) + "</title>";
  out += "<style>.grid{stroke:#ddd}.tick{stroke:#333}</style>";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>";
  // A title wider than the chart is squeezed to fit rather than cut at the edge.
  const double room = width_ - left_ - 4;
  const std::string squeeze = text_width(title_, 13) * 1.1 > room
                                  ? " textLength=\"" + coord(room) + "\" lengthAdjust=\"spacingAndGlyphs\""
                                  : std::string();
  out += "<text x=\"" + coord(left_) + "\" y=\"16\" font-size=\"13\" font-weight=\"bold\"" + squeeze + ">" +
         escape_text(title_) + "</text>";
  out += axes_;
  out += body_;
  out += "<rect fill=\"none\" stroke=\"#333\" x=\"" + coord(left_) + "\" y=\"" + coord(top_) + "\" width=\"" +
         coord(width_ - left_ - right_) + "\" height=\"" + coord(height_ - top_ - bottom_) + "\"/>";
  out += "</svg>\n";
  return out;
}
