#include "report/scan_page.h"

#include <algorithm>
#include <cmath>

#include "control/text_format.h"
#include "report/svg_chart.h"

namespace {

const char* const kStyle =
    "body{font-family:Helvetica,Arial,sans-serif;margin:1.5em auto;max-width:60em;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #999;margin-top:2em}"
    "table{border-collapse:collapse;font-size:0.8em;margin:0.5em 0}"
    "td,th{border:1px solid #ccc;padding:2px 5px;text-align:right}tr.poor td{background:#fde0c5}"
    "figure{margin:0.5em 0;display:inline-block}svg{max-width:100%;height:auto}.note{font-size:0.85em;color:#555}";

// One column against K: a line through every value, the K values reached by
// several starts as dots of the first colour, the others as larger dots of the
// second.
std::string column_chart(const ScanPageInput& in, const std::vector<double>& values, const std::string& title,
                         const std::string& label, bool from_zero) {
  Chart chart(430, 250, title);
  const double first = in.factors.empty() ? 1 : in.factors.front();
  const double last = in.factors.empty() ? 2 : std::max(in.factors.back(), first + 1);
  chart.x_axis(first - 0.5, last + 0.5, false, "number of factors");
  double lo = from_zero ? 0 : INFINITY, hi = from_zero ? 0 : -INFINITY;
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (!(lo <= hi)) lo = 0, hi = 1;
  const double pad = hi > lo ? (hi - lo) * 0.08 : std::max(std::fabs(hi) * 0.1, 1.0);
  chart.y_axis(from_zero && lo >= 0 ? 0 : lo - pad, hi + pad, false, label);
  chart.line(in.factors, values, factor_colour(0));
  std::vector<double> kx, ky, ux, uy;
  for (std::size_t i = 0; i < values.size(); ++i) {
    (in.reproduced[i] ? kx : ux).push_back(in.factors[i]);
    (in.reproduced[i] ? ky : uy).push_back(values[i]);
  }
  chart.points(kx, ky, factor_colour(0));
  chart.points(ux, uy, factor_colour(1), 5.0);
  return "<figure>" + chart.svg() + "</figure>";
}

}  // namespace

std::string scan_page(const ScanPageInput& in) {
  std::string html = "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>tarnok scan: " +
                     escape_text(in.title) + "</title><style>" + kStyle + "</style></head><body><h1>Factor-number scan: " +
                     escape_text(in.title) + "</h1>";
  html += format_text(
      "<p class=\"note\">Each number of factors K fitted from fresh starts; the best start's numbers. A larger dot "
      "in the second colour (and a shaded row) marks a K whose best solution fewer than %d starts reached (chi2 "
      "within 0.1 %% and every factor at r &gt;= 0.9): that K's answer depends on the start. The scan recommends "
      "no K by itself.</p>",
      in.several);
  html += "<h2>Charts</h2>";
  html += column_chart(in, in.chi2_over_qexp, "chi2 / Qexp", "chi2 / Qexp", false);
  html += column_chart(in, in.drop_percent, "Drop of the best chi2 from K - 1", "per cent", true);
  html += column_chart(in, in.starts_at_best, "Starts that reached the best solution", "share of the starts", true);
  bool shares = false;
  for (double v : in.smallest_share) shares = shares || std::isfinite(v);
  if (shares) html += column_chart(in, in.smallest_share, "Smallest factor share of the total", "per cent", true);
  html += column_chart(in, in.species_above_2, "Species with chi2/ny above 2", "species", true);
  html += column_chart(in, in.seconds, "Time of the starts", "seconds", true);
  html += "<h2>Table</h2><table><tr>";
  for (const std::string& heading : in.table.headings) html += "<th>" + escape_text(heading) + "</th>";
  html += "</tr>";
  for (std::size_t r = 0; r < in.table.rows.size(); ++r) {
    html += r < in.reproduced.size() && !in.reproduced[r] ? "<tr class=\"poor\">" : "<tr>";
    for (const std::string& cell : in.table.rows[r]) html += "<td>" + escape_text(cell) + "</td>";
    html += "</tr>";
  }
  return html + "</table></body></html>\n";
}
