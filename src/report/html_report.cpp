#include "report/html_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "control/text_format.h"
#include "report/bootstrap_charts.h"
#include "report/dates.h"
#include "report/report_charts.h"
#include "report/svg_chart.h"
#include "report/warnings.h"

namespace {

constexpr std::size_t kPairFactors = 12;   // pair plots for the first this many factors
constexpr std::size_t kWorstRecords = 20;  // records listed by chi2

// The page holds at any width from about 1,000 pixels: the body takes the window
// up to a comfortable line length, a table too wide for it scrolls inside its own
// box with its first column fixed, charts shrink to the width they get, and the
// per-species charts flow in a grid. In print, every chart and table row stays on
// one page and the tables give up their scroll boxes.
const char* const kStyle =
    "body{font-family:Helvetica,Arial,sans-serif;margin:1.5em auto;padding:0 1em;max-width:90em;color:#222}"
    "h1{font-size:1.5em}h2{font-size:1.2em;border-bottom:1px solid #999;margin-top:2em}h3{font-size:1em}"
    "table{border-collapse:separate;border-spacing:0;font-size:0.8em;margin:0.5em 0}"
    "td,th{border:1px solid #ccc;padding:2px 5px;text-align:right;background:#fff}td{white-space:nowrap}"
    "th{background:#eee}"
    "td.name,th.name{text-align:left}td.wrap{text-align:left;white-space:normal;overflow-wrap:anywhere}"
    "tr.poor td{background:#fde0c5}"
    "div.table{overflow-x:auto;max-width:100%}div.table td:first-child,div.table th:first-child"
    "{position:sticky;left:0;z-index:1}"
    "figure{margin:0.5em 0;display:inline-block;max-width:100%}svg{max-width:100%;height:auto}"
    "div.charts{display:grid;grid-template-columns:repeat(auto-fill,minmax(17em,1fr));gap:0.5em}"
    "div.charts figure{margin:0}div.charts.pairs{grid-template-columns:repeat(auto-fill,minmax(30em,1fr))}"
    "div.charts.wide{grid-template-columns:repeat(auto-fill,minmax(40em,1fr))}"
    "div.card{display:flex;gap:0.3em}div.card figure{flex:1 1 0;min-width:0}"
    "nav{display:flex;flex-wrap:wrap;gap:0.3em 1em;padding:0.4em 0;border-bottom:1px solid #ccc}"
    ".note{font-size:0.85em;color:#555}"
    "div.warnings{border:2px solid #d55e00;background:#fff4ec;padding:0.2em 1em;margin:1em 0}"
    "div.warnings h2{border:none;margin-top:0.5em}div.warnings li{margin:0.3em 0}"
    "@media print{@page{margin:1.5cm}body{max-width:none;margin:0;padding:0;font-size:10pt}nav{display:none}"
    "div.table{overflow:visible}div.table td:first-child,div.table th:first-child{position:static}"
    "td{white-space:normal}figure,tr,h3,div.warnings{break-inside:avoid}h2,h3{break-after:avoid}"
    "div.charts{grid-template-columns:repeat(3,1fr)}div.charts.pairs,div.charts.wide{grid-template-columns:repeat(2,1fr)}"
    "div.card{break-inside:avoid}}";

std::string text_of(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_null()) return "";
  if (value.is_number_float()) return tick_label(value.get<double>());
  return value.dump();
}

std::string cell(std::string_view text, bool name = false) {
  return std::string(name ? "<td class=\"name\">" : "<td>") + escape_text(text) + "</td>";
}

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

// The page as it is built: the body, section by section, the figures drawn so far
// and the sections that want a link in the navigation bar.
class Page {
 public:
  explicit Page(std::vector<Figure>* figures) : figures_(figures) {}
  void add(std::string_view html) { html_ += html; }
  // Opens section `id` (closing the one before); the section gets a link in the
  // navigation bar, in the order the sections come, labelled `nav_label` or, without
  // one, its heading.
  void section(const std::string& id, const std::string& heading, const char* nav_label = nullptr) {
    if (open_) html_ += "</section>";
    html_ += "<section id=\"" + id + "\"><h2>" + escape_text(heading) + "</h2>";
    open_ = true;
    links_.push_back({id, nav_label != nullptr ? std::string(nav_label) : heading});
  }
  // Figures added between these two flow in a grid of small charts ("charts"), of
  // wide ones ("charts wide", two abreast on a wide window) or of cards ("charts
  // pairs"), each card figures side by side, begun and ended by the two below.
  // (Not "grid": the charts' own style sheets name their grid lines so, and an
  // inline SVG's style applies to the whole page.)
  void begin_grid(const char* kind = "charts") { html_ += std::string("<div class=\"") + kind + "\">"; }
  void end_grid() { html_ += "</div>"; }
  void begin_card() { html_ += "<div class=\"card\">"; }
  void end_card() { html_ += "</div>"; }
  void figure(const std::string& name, std::string svg) {
    html_ += "<figure>" + svg + "</figure>";
    figures_->push_back({name, std::move(svg)});
  }
  void table(const TextTable& t, const std::vector<bool>* marked = nullptr, std::size_t name_columns = 1) {
    html_ += "<div class=\"table\"><table><thead><tr>";
    for (std::size_t c = 0; c < t.headings.size(); ++c) {
      html_ += std::string(c < name_columns ? "<th class=\"name\">" : "<th>") + escape_text(t.headings[c]) + "</th>";
    }
    html_ += "</tr></thead><tbody>";
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
      html_ += marked != nullptr && r < marked->size() && (*marked)[r] ? "<tr class=\"poor\">" : "<tr>";
      for (std::size_t c = 0; c < t.rows[r].size(); ++c) html_ += cell(t.rows[r][c], c < name_columns);
      html_ += "</tr>";
    }
    html_ += "</tbody></table></div>";
  }
  // The whole page: its head, the title, the navigation bar assembled from the
  // sections that asked for a link, and the body.
  std::string finish(const std::string& title) {
    if (open_) html_ += "</section>";
    open_ = false;
    std::string nav = "<nav>";
    for (const NavLink& link : links_) nav += "<a href=\"#" + link.id + "\">" + escape_text(link.label) + "</a>";
    nav += "</nav>";
    return "<!DOCTYPE html>\n"
           "<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\"><head><meta charset=\"utf-8\"/>"
           "<title>tarnok report: " + escape_text(title) + "</title><style>" + kStyle + "</style></head><body>" +
           "<h1>" + escape_text(title) + "</h1>" + nav + html_ + "</body></html>\n";
  }

 private:
  struct NavLink {
    std::string id;
    std::string label;
  };
  std::string html_;
  std::vector<Figure>* figures_;
  std::vector<NavLink> links_;
  bool open_ = false;
};

std::string two_digits(std::size_t k) {
  char text[24];
  std::snprintf(text, sizeof text, "%02zu", k);
  return text;
}

// The names of the figure files, for the sections that draw them and for
// figure_names. Factors, variables and bootstrap charts count from 0 here and
// from 1 in the names.
const char* const kRatioFigure = "convergence_chi2_per_ny.svg";
const char* const kChi2Figure = "convergence_chi2.svg";
const char* const kLateFigure = "convergence_late.svg";
const char* const kStackedFigure = "concentrations_stacked.svg";
const char* const kTotalFigure = "concentrations_total.svg";
const char* const kApportionmentFigure = "apportionment.svg";
const char* const kFingerprintFigure = "fingerprint.svg";
const char* const kRecordsFigure = "records_chi2.svg";
const char* const kResidueProfileFigure = "residue_profile.svg";
const char* const kResidueContributionsFigure = "residue_contributions.svg";

// One figure per factor or per variable: the stem, then the number.
const char* const kProfileFigures = "profile_";
const char* const kShareFigures = "share_";
const char* const kContributionFigures = "contributions_";
const char* const kConcentrationFigures = "concentration_";
const char* const kFitFigures = "fit_";
const char* const kResidualFigures = "residuals_";

// e.g. profile_01.svg for stem kProfileFigures and k 0
std::string numbered_figure(const char* stem, std::size_t k) { return stem + two_digits(k + 1) + ".svg"; }

std::string pair_figure(std::size_t f, std::size_t g) {
  return "pair_" + two_digits(f + 1) + "_" + two_digits(g + 1) + ".svg";
}

std::string bootstrap_figure(std::size_t k) { return "bootstrap_" + std::to_string(k + 1) + ".svg"; }

std::vector<std::string> strings_of(const nlohmann::json& list) {
  std::vector<std::string> out;
  if (!list.is_array()) return out;
  for (const nlohmann::json& item : list) out.push_back(text_of(item));
  return out;
}

// Column index of a heading, or npos.
std::size_t column(const TextTable& t, std::string_view heading) {
  for (std::size_t c = 0; c < t.headings.size(); ++c) {
    if (t.headings[c] == heading) return c;
  }
  return std::string::npos;
}

double cell_number(const TextTable& t, std::size_t row, std::size_t col) {
  if (col == std::string::npos || row >= t.rows.size() || col >= t.rows[row].size()) return std::nan("");
  return std::strtod(t.rows[row][col].c_str(), nullptr);
}

// The link text of a warning's section.
std::string section_label(const std::string& id) {
  static const char* const kLabels[][2] = {{"convergence", "Convergence"}, {"summary", "Run summary"},
                                           {"starts", "Starts"},           {"bootstrap_mapping", "Bootstrap mapping"}, {"displacement", "Displacement"},
                                           {"bs_displacement", "Bootstrap displacement"},
                                           {"variables", "Variables"},     {"records", "Records"}};
  for (const auto& label : kLabels) {
    if (id == label[0]) return label[1];
  }
  return id;
}

// The box at the top: what the analyst must notice, each linking its section, and
// the conditions checked.
void warnings_section(Page& page, const ReportInput& in) {
  page.section("warnings", "To notice first", "To notice");
  const std::vector<Warning> found = report_warnings(in);
  page.add("<div class=\"warnings\">");
  if (found.empty()) {
    page.add("<p>Nothing: none of the checks below found anything.</p>");
  } else {
    page.add("<ul>");
    for (const Warning& w : found) {
      page.add("<li>" + escape_text(w.text) + " <a href=\"#" + w.section + "\">" + section_label(w.section) +
               "</a></li>");
    }
    page.add("</ul>");
  }
  page.add("<p class=\"note\">" + escape_text(warning_conditions(in)) + "</p></div>");
}

void summary(Page& page, const nlohmann::json& run) {
  page.section("summary", "Run summary", "Summary");
  page.add("<table><tbody>");
  auto row = [&](std::string_view name, const std::string& value) {
    page.add("<tr>" + cell(name, true) + "<td class=\"wrap\">" + escape_text(value) + "</td></tr>");
  };
  const nlohmann::json& program = run.value("program", nlohmann::json::object());
  row("program", text_of(program.value("name", nlohmann::json())) + " " + text_of(program.value("version", nlohmann::json())));
  std::string command;
  for (const std::string& arg : strings_of(run.value("command_line", nlohmann::json()))) command += (command.empty() ? "" : " ") + arg;
  row("command line", command);
  for (const char* kind : {"profile", "form", "data"}) {
    const nlohmann::json file = run.value("inputs", nlohmann::json::object()).value(kind, nlohmann::json::object());
    row(std::string(kind) + " file", text_of(file.value("path", nlohmann::json())) + " (" +
                                         text_of(file.value("size", nlohmann::json())) + " bytes, SHA-256 " +
                                         text_of(file.value("sha256", nlohmann::json())) + ")");
  }
  row("result table", text_of(run.value("result", nlohmann::json())));
  const nlohmann::json dims = run.value("dimensions", nlohmann::json::object());
  row("records x variables x factors", text_of(dims.value("nrec", nlohmann::json())) + " x " +
                                           text_of(dims.value("nvar", nlohmann::json())) + " x " +
                                           text_of(dims.value("nfakt", nlohmann::json())));
  row("mode", text_of(run.value("mode", nlohmann::json())));
  row("rotate", text_of(run.value("rotate", nlohmann::json::object()).value("value", nlohmann::json())));
  row("threads", text_of(run.value("threads", nlohmann::json())));
  const nlohmann::json stop = run.value("stop", nlohmann::json::object());
  row("passes", text_of(stop.value("passes", nlohmann::json())));
  row("stopped", text_of(stop.value("reason", nlohmann::json())));
  row("result belongs to pass", text_of(stop.value("result_pass", nlohmann::json())));
  const nlohmann::json totals = run.value("totals", nlohmann::json::object());
  row("chi2, ny, chi2/ny", text_of(totals.value("chi2", nlohmann::json())) + ", " +
                               text_of(totals.value("ny", nlohmann::json())) + ", " +
                               text_of(totals.value("chi2_per_ny", nlohmann::json())));
  if (run.contains("robust")) {
    // A robust fit: its chi2 above is Q(robust); Q(true) weighs the same residuals
    // with the plain uncertainties.
    const nlohmann::json& robust = run["robust"];
    row("robust (alpha " + text_of(robust.value("alpha", nlohmann::json())) + "): Q(true), Q(robust)",
        text_of(robust.value("q_true", nlohmann::json())) + ", " + text_of(robust.value("q_robust", nlohmann::json())));
    row("down-weighted values", text_of(robust.value("down_weighted", nlohmann::json())) + " of " +
                                    text_of(robust.value("measured", nlohmann::json())) + " (" +
                                    number_text(100.0 * robust.value("down_weighted_share", 0.0)) + " %)");
  }
  const nlohmann::json times = run.value("times", nlohmann::json::object());
  row("started, ended (UTC)", text_of(times.value("start_utc", nlohmann::json())) + ", " +
                                  text_of(times.value("end_utc", nlohmann::json())));
  row("read, fit, output (s)", text_of(times.value("read_seconds", nlohmann::json())) + ", " +
                                   text_of(times.value("fit_seconds", nlohmann::json())) + ", " +
                                   text_of(times.value("output_seconds", nlohmann::json())));
  page.add("</tbody></table>");
}

void convergence(Page& page, const nlohmann::json& run) {
  page.section("convergence", "Convergence", "Convergence");
  std::vector<double> ratio, chi2;
  for (const nlohmann::json& pass : run.value("passes", nlohmann::json::array())) {
    const nlohmann::json r = pass.value("chi2_per_ny", nlohmann::json());
    const nlohmann::json c = pass.value("chi2", nlohmann::json());
    ratio.push_back(r.is_number() ? r.get<double>() : std::nan(""));
    chi2.push_back(c.is_number() ? c.get<double>() : std::nan(""));
  }
  if (ratio.empty()) {
    page.add("<p>No pass printed a statistics line.</p>");
    return;
  }
  page.figure(kRatioFigure, pass_chart("chi2/ny per pass", ratio, "chi2/ny"));
  page.figure(kChi2Figure, pass_chart("chi2 per pass", chi2, "chi2"));
  // The late passes on their own scale, where a slow drift shows.
  const std::size_t first = ratio.size() / 2;
  page.figure(kLateFigure, pass_chart("chi2/ny over the second half of the passes (" + std::to_string(first + 1) + " to " +
                                          std::to_string(ratio.size()) + ")",
                                      ratio, "chi2/ny", first));
}

// Mean contribution of each factor over the records.
std::vector<double> mean_contributions(const ResultNumbers& r) {
  const auto nf = static_cast<std::size_t>(r.nfakt);
  std::vector<double> mean(nf, 0.0);
  for (std::size_t s = 0; s < static_cast<std::size_t>(r.nrec); ++s) {
    for (std::size_t f = 0; f < nf; ++f) mean[f] += r.x[s * nf + f];
  }
  for (double& m : mean) m /= std::max(r.nrec, 1);
  return mean;
}

// The statement of a displacement (`key` in run.json) that saw chi2 fall below
// the fit it started from (`decrease`) or factors swap (`swapped_in` names where).
std::string findings_statement(const nlohmann::json& run, const char* key, const std::string& decrease,
                               const std::string& swapped_in) {
  const nlohmann::json d = run.value(key, nlohmann::json());
  if (!d.is_object()) return "";
  std::string text;
  if (d.value("chi2_decreased", false)) {
    text += "<p style=\"color:#a00000\"><strong>" + decrease + "</strong></p>";
  }
  long swaps = 0;
  for (const nlohmann::json& level : d.value("levels", nlohmann::json::array())) {
    const nlohmann::json count = level.value("swaps", nlohmann::json());
    if (count.is_number()) swaps += count.get<long>();
  }
  if (swaps > 0) {
    text += "<p style=\"color:#a00000\"><strong>Factors swapped in " + std::to_string(swaps) + " displaced fits" +
            swapped_in + ": some factors are not well separated.</strong></p>";
  }
  return text;
}

std::string displacement_statement(const nlohmann::json& run) {
  return findings_statement(run, "displacement",
                            "Warning: a displaced fit reached a lower chi2 than this fit: the fit is not at its "
                            "lowest minimum, and its intervals describe a local one. Refit (e.g. with more starts) "
                            "before publishing.",
                            " (see Displacement)");
}

std::string bs_displacement_statement(const nlohmann::json& run) {
  return findings_statement(run, "bootstrap_displacement",
                            "Warning: a displaced fit of a bootstrap replicate reached a lower chi2 than the "
                            "replicate's own fit: that replicate's intervals describe a local minimum.",
                            " of the bootstrap replicates (see Bootstrap displacement)");
}

void apportionment(Page& page, const nlohmann::json& run, const std::vector<std::string>& factors,
                   const std::vector<std::string>& variables, const std::vector<std::string>& units,
                   const std::optional<TextTable>& intervals) {
  if (!run.contains("apportionment")) return;
  const nlohmann::json& a = run["apportionment"];
  const std::string variable = text_of(a.value("variable", nlohmann::json()));
  const auto v = static_cast<std::size_t>(std::find(variables.begin(), variables.end(), variable) - variables.begin());
  const std::string unit = v < units.size() ? units[v] : std::string();
  const std::string label = unit.empty() ? variable : variable + " (" + unit + ")";
  page.section("apportionment", "Apportionment of " + variable, "Apportionment");
  TextTable t;
  t.headings = {"factor", "mean " + label, "percent"};
  std::vector<double> means;
  for (const nlohmann::json& f : a.value("factors", nlohmann::json::array())) {
    const nlohmann::json mean = f.value("mean", nlohmann::json());
    const nlohmann::json percent = f.value("percent", nlohmann::json());
    means.push_back(mean.is_number() ? mean.get<double>() : std::nan(""));
    t.rows.push_back({text_of(f.value("factor", nlohmann::json())), mean.is_number() ? number_text(mean.get<double>()) : "",
                      percent.is_number() ? number_text(percent.get<double>()) : ""});
  }
  const nlohmann::json observed = a.value("observed_mean", nlohmann::json());
  page.add("<p>Mean measured " + escape_text(variable) + ": " +
           (observed.is_number() ? number_text(observed.get<double>()) + (unit.empty() ? "" : " " + escape_text(unit))
                                 : std::string("none")) +
           "; sum of the factors' means: " +
           number_text(std::accumulate(means.begin(), means.end(), 0.0)) + ".</p>");
  page.table(t);
  if (intervals) {
    page.add("<p class=\"note\">Shares in per cent with their intervals: the 5th to 95th percentile over the "
             "bootstrap replicates, and the range over the displaced fits of the factor's element of " +
             escape_text(variable) + " at dQmax 4 (empty where the method was not run).</p>");
    page.add(displacement_statement(run));
    page.table(*intervals);
  }
  page.figure(kApportionmentFigure, apportionment_chart(variable, factors, means, label));
}

// The unit of a profile axis: the species' common unit, or a note that each
// species has its own.
std::string profile_label(const std::vector<std::string>& units) {
  const bool known = std::any_of(units.begin(), units.end(), [](const std::string& u) { return !u.empty(); });
  if (!known) return "profile (the species' units)";
  const bool common = std::all_of(units.begin(), units.end(), [&](const std::string& u) { return u == units[0]; });
  return common ? "profile (" + units[0] + ")" : "profile (each species' unit)";
}

void profiles(Page& page, const ResultNumbers& r, const std::vector<std::string>& factors,
              const std::vector<std::string>& variables, const std::vector<std::string>& units,
              std::vector<std::vector<double>>* percent_by_factor) {
  page.section("profiles", "Factor profiles", "Profiles");
  page.add("<p class=\"note\">Per factor: its profile (logarithmic axis; an element of 0 is marked by an open "
           "triangle at the foot of the axis, one below 0 is left out) and "
           "its share of each species' total, the factor's mean contribution times its profile element over the "
           "sum of these across the factors.</p>");
  const auto nf = static_cast<std::size_t>(r.nfakt);
  const auto nv = static_cast<std::size_t>(r.nvar);
  const std::vector<double> mean = mean_contributions(r);
  percent_by_factor->assign(nf, std::vector<double>(nv, 0.0));
  for (std::size_t v = 0; v < nv; ++v) {
    double total = 0.0;
    for (std::size_t f = 0; f < nf; ++f) total += std::max(0.0, r.p[v * nf + f] * mean[f]);
    for (std::size_t f = 0; f < nf; ++f) {
      (*percent_by_factor)[f][v] = total > 0 ? std::max(0.0, r.p[v * nf + f] * mean[f]) / total * 100.0 : 0.0;
    }
  }
  for (std::size_t f = 0; f < nf; ++f) {
    std::vector<double> profile(nv);
    for (std::size_t v = 0; v < nv; ++v) profile[v] = r.p[v * nf + f];
    page.add("<h3>" + escape_text(factors[f]) + "</h3>");
    page.begin_grid("charts wide");
    page.figure(numbered_figure(kProfileFigures, f),
                variable_bars("Profile of " + factors[f], variables, profile, true, factor_colour(f), profile_label(units)));
    page.figure(numbered_figure(kShareFigures, f),
                variable_bars("Share of each species' total: " + factors[f], variables, (*percent_by_factor)[f], false,
                              factor_colour(f), "% of species total", 100.0));
    page.end_grid();
  }
}

// Means of each factor per month (1..12) or weekday (0..6) of the record dates.
// Each record's contribution of factor f counts times scale[f]: 1 for the
// contributions themselves, the total's profile element for concentrations.
void calendar_means(Page& page, const ResultNumbers& r, const TimeAxis& time, const std::vector<std::string>& factors,
                    bool by_month, const std::vector<double>& scale, const std::string& what) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
  const std::size_t groups = by_month ? 12 : 7;
  const auto nf = static_cast<std::size_t>(r.nfakt);
  std::vector<double> sum(groups * nf, 0.0);
  std::vector<long> count(groups, 0);
  for (std::size_t s = 0; s < static_cast<std::size_t>(r.nrec); ++s) {
    const auto g = static_cast<std::size_t>(by_month ? month_of(time.at[s]) - 1 : weekday_of(time.at[s]));
    ++count[g];
    for (std::size_t f = 0; f < nf; ++f) sum[g * nf + f] += r.x[s * nf + f] * scale[f];
  }
  TextTable t;
  t.headings.push_back("factor");
  for (std::size_t g = 0; g < groups; ++g) t.headings.push_back(by_month ? kMonths[g] : kDays[g]);
  for (std::size_t f = 0; f < nf; ++f) {
    std::vector<std::string> row = {factors[f]};
    for (std::size_t g = 0; g < groups; ++g) {
      row.push_back(count[g] > 0 ? number_text(sum[g * nf + f] / static_cast<double>(count[g])) : "");
    }
    t.rows.push_back(row);
  }
  std::vector<std::string> records = {"records"};
  for (std::size_t g = 0; g < groups; ++g) records.push_back(std::to_string(count[g]));
  t.rows.push_back(records);
  page.add("<h3>" + std::string(by_month ? "Monthly means" : "Weekday means") + escape_text(what) + "</h3>");
  page.table(t);
}

void contributions(Page& page, const ResultNumbers& r, const TimeAxis& time, const std::vector<std::string>& factors) {
  page.section("contributions", "Contributions over time", "Contributions");
  if (!time.dates) {
    page.add("<p class=\"note\">The record identifiers are not all dates in a known form (such as 2001-06-22, "
             "6/22/2001 0:00 or 22.06.2001), so the records are drawn in their order.</p>");
  }
  const auto nf = static_cast<std::size_t>(r.nfakt);
  std::vector<double> series(static_cast<std::size_t>(r.nrec));
  page.begin_grid("charts wide");
  for (std::size_t f = 0; f < nf; ++f) {
    for (std::size_t s = 0; s < series.size(); ++s) series[s] = r.x[s * nf + f];
    page.figure(numbered_figure(kContributionFigures, f),
                time_chart("Contribution of " + factors[f], time, series, factor_colour(f), "contribution"));
  }
  page.end_grid();
  if (time.dates) {
    const std::vector<double> ones(nf, 1.0);
    calendar_means(page, r, time, factors, true, ones, "");
    calendar_means(page, r, time, factors, false, ones, "");
  }
}

// With a total: what each factor adds to it over time, in its units, stacked and
// one by one, and the observed total against the sum of the factors' parts.
void concentrations(Page& page, const ReportInput& in, const TimeAxis& time, const std::vector<std::string>& factors,
                    const std::vector<std::string>& variables) {
  if (!in.run.contains("apportionment")) return;
  const std::string variable = text_of(in.run["apportionment"].value("variable", nlohmann::json()));
  const auto v = static_cast<std::size_t>(std::find(variables.begin(), variables.end(), variable) - variables.begin());
  if (v >= variables.size()) return;
  const ResultNumbers& r = in.result;
  const auto nf = static_cast<std::size_t>(r.nfakt);
  const auto ns = static_cast<std::size_t>(r.nrec);
  const std::string unit = v < in.units.size() ? in.units[v] : std::string();
  const std::string label = unit.empty() ? variable : variable + " (" + unit + ")";
  page.section("concentrations", "Contributions to " + variable, "Concentrations");
  page.add("<p class=\"note\">Each factor's part of " + escape_text(variable) +
           " in each record: its contribution times its profile element for " + escape_text(variable) +
           (unit.empty() ? std::string(" (in the units of the data)") : " in " + escape_text(unit)) +
           ". The predicted total is the sum of these parts.</p>");
  std::vector<double> scale(nf);
  std::vector<std::vector<double>> parts(nf, std::vector<double>(ns));
  std::vector<double> predicted(ns, 0.0);
  for (std::size_t f = 0; f < nf; ++f) {
    scale[f] = r.p[v * nf + f];
    for (std::size_t s = 0; s < ns; ++s) {
      parts[f][s] = r.x[s * nf + f] * scale[f];
      predicted[s] += parts[f][s];
    }
  }
  const std::vector<double> observed = v < in.observed.size() && in.observed[v].size() == ns
                                           ? in.observed[v]
                                           : std::vector<double>(ns, std::nan(""));
  page.figure(kStackedFigure, stacked_time_chart("Contributions to " + variable + ", stacked", time, factors, parts, label));
  page.figure(kTotalFigure,
              observed_predicted_chart(variable + ": observed and predicted", time, observed, predicted, label));
  page.begin_grid("charts wide");
  for (std::size_t f = 0; f < nf; ++f) {
    page.figure(numbered_figure(kConcentrationFigures, f),
                time_chart(factors[f] + ": contribution to " + variable, time, parts[f], factor_colour(f), label));
  }
  page.end_grid();
  if (time.dates) {
    const std::string what = " of " + label;
    calendar_means(page, r, time, factors, true, scale, what);
    calendar_means(page, r, time, factors, false, scale, what);
  }
}

void pairs(Page& page, const ResultNumbers& r, const std::vector<std::string>& factors) {
  const auto nf = static_cast<std::size_t>(r.nfakt);
  if (nf < 2) return;
  page.section("pairs", "Contributions of factor pairs", "Pairs");
  const std::size_t shown = std::min(nf, kPairFactors);
  if (shown < nf) {
    page.add("<p class=\"note\">Pairs among the first " + std::to_string(shown) + " factors.</p>");
  }
  std::vector<std::vector<double>> columns(shown, std::vector<double>(static_cast<std::size_t>(r.nrec)));
  for (std::size_t s = 0; s < static_cast<std::size_t>(r.nrec); ++s) {
    for (std::size_t f = 0; f < shown; ++f) columns[f][s] = r.x[s * nf + f];
  }
  page.begin_grid();
  for (std::size_t f = 0; f < shown; ++f) {
    for (std::size_t g = f + 1; g < shown; ++g) {
      page.figure(pair_figure(f, g), pair_chart(factors[f], factors[g], columns[f], columns[g]));
    }
  }
  page.end_grid();
}

void variables_section(Page& page, const ReportInput& in, const std::vector<std::string>& variables) {
  page.section("variables", "Variables", "Variables");
  const TextTable& t = in.variables;
  const std::size_t per_ny = column(t, "chi2/ny");
  const std::size_t share = column(t, "share beyond 3");
  const std::size_t r2 = column(t, "R2");
  std::vector<bool> poor(t.rows.size());
  for (std::size_t row = 0; row < t.rows.size(); ++row) {
    poor[row] = cell_number(t, row, per_ny) > kPoorChi2PerNy || cell_number(t, row, share) > kPoorShare ||
                cell_number(t, row, r2) < kPoorR2;
  }
  page.add("<p class=\"note\">Shaded rows are poorly fitted: chi2/ny above " + tick_label(kPoorChi2PerNy) +
           ", more than " + tick_label(kPoorShare * 100) +
           " % of the scaled residuals (residual / uncertainty) beyond \xc2\xb1" "3, or R2 below " +
           tick_label(kPoorR2) + ". R2, slope and intercept describe the least-squares line of fitted against "
           "observed values.</p>");
  // The page shows each variable's unit beside its name when the units are known.
  TextTable shown = t;
  if (!in.units.empty()) {
    shown.headings.insert(shown.headings.begin() + 1, "unit");
    for (std::size_t row = 0; row < shown.rows.size(); ++row) {
      shown.rows[row].insert(shown.rows[row].begin() + std::min<std::ptrdiff_t>(1, static_cast<std::ptrdiff_t>(shown.rows[row].size())),
                             row < in.units.size() ? in.units[row] : std::string());
    }
  }
  page.table(shown, &poor);
  if (in.pictures.empty()) return;
  page.add("<h3>Fitted against observed, and the scaled residuals, per species</h3>");
  page.begin_grid("charts pairs");
  for (std::size_t v = 0; v < variables.size() && v < in.pictures.size(); ++v) {
    const VariablePicture& picture = in.pictures[v];
    page.begin_card();
    page.figure(numbered_figure(kFitFigures, v),
                fit_chart(variables[v], picture.observed, picture.fitted,
                          v < t.rows.size() && r2 < t.rows[v].size() ? t.rows[v][r2] : "",
                          v < in.units.size() ? in.units[v] : std::string()));
    page.figure(numbered_figure(kResidualFigures, v), residual_chart(variables[v], picture.edges, picture.counts));
    page.end_card();
  }
  page.end_grid();
}

void records_section(Page& page, const ReportInput& in, const TimeAxis& time) {
  page.section("records", "Records", "Records");
  const TextTable& t = in.records;
  const std::size_t chi2 = column(t, "chi2");
  std::vector<double> values(t.rows.size());
  for (std::size_t s = 0; s < t.rows.size(); ++s) values[s] = cell_number(t, s, chi2);
  if (values.size() == time.at.size()) {
    page.figure(kRecordsFigure, time_chart("chi2 per record", time, values, factor_colour(5), "chi2"));
  }
  std::vector<std::size_t> order(values.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  const std::size_t shown = std::min(order.size(), kWorstRecords);
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(shown), order.end(),
                    [&](std::size_t a, std::size_t b) {
                      const bool fa = std::isfinite(values[a]), fb = std::isfinite(values[b]);
                      return fa != fb ? fa : (fa && values[a] > values[b]);
                    });
  TextTable worst;
  worst.headings = t.headings;
  for (std::size_t k = 0; k < shown; ++k) worst.rows.push_back(t.rows[order[k]]);
  page.add("<h3>The " + std::to_string(shown) + " records with the largest chi2</h3>");
  page.table(worst, nullptr, 1);
}

void residue_section(Page& page, const ResultNumbers& r, const TimeAxis& time, const std::vector<std::string>& variables) {
  page.section("residue", "Residue factor", "Residue");
  page.add("<p class=\"note\">What the model leaves unexplained, condensed into one factor: its profile and its "
           "contributions, which sum to 1 over the records.</p>");
  page.figure(kResidueProfileFigure,
              variable_bars("Residue profile", variables, r.r, false, "#777777", "residue profile"));
  page.figure(kResidueContributionsFigure, time_chart("Residue contribution", time, r.t, "#777777", "contribution"));
}

}  // namespace

ReportPages make_report(const ReportInput& in) {
  ReportPages pages;
  Page page(&pages.figures);
  const nlohmann::json& run = in.run;
  const ResultNumbers& r = in.result;
  std::vector<std::string> factors = strings_of(run.value("factors", nlohmann::json()));
  std::vector<std::string> variables = strings_of(run.value("variables", nlohmann::json()));
  factors.resize(static_cast<std::size_t>(r.nfakt));
  variables.resize(static_cast<std::size_t>(r.nvar));
  const std::string title = text_of(run.value("title", nlohmann::json()));
  const TimeAxis time = time_axis(r.ids);

  warnings_section(page, in);
  summary(page, run);
  convergence(page, run);
  apportionment(page, run, factors, variables, in.units, in.apportionment_intervals);
  std::vector<std::vector<double>> percent_by_factor;
  profiles(page, r, factors, variables, in.units, &percent_by_factor);
  page.section("fingerprint", "Fingerprint", "Fingerprint");
  page.figure(kFingerprintFigure, fingerprint_chart(variables, factors, percent_by_factor));
  contributions(page, r, time, factors);
  concentrations(page, in, time, factors, variables);
  pairs(page, r, factors);
  variables_section(page, in, variables);
  records_section(page, in, time);
  residue_section(page, r, time, variables);
  if (in.starts) {
    page.section("starts", "Starts", "Starts");
    page.add("<p class=\"note\">Every start of the run: its stop, chi2 and, per factor of the best start, the "
             "correlation of its contributions with the best-matching factor of that start. The result table "
             "is the start with the lowest chi2. Then how stable that answer is: each start's chi2 above the best "
             "in per cent, and its factors matched one to one to those of the best start (the pairing with the "
             "highest sum of the correlations of profiles and of contributions); a start reproduces the best "
             "when its chi2 lies within 0.1 % of it and every factor correlates at r >= 0.9 in both.</p>");
    if (!in.starts_summary.empty()) page.add("<p>" + escape_text(in.starts_summary) + "</p>");
    page.table(*in.starts);
  }
  if (in.bootstrap) {
    page.section("bootstrap", "Bootstrap spread", "Bootstrap");
    page.add("<p class=\"note\">Each profile element over the bootstrap replicates mapped to its factor: box from "
             "the 25th to the 75th percentile, whiskers from the 5th to the 95th, the line the median, the dot "
             "the value of this fit.</p>");
    if (const auto cut = in.run.find("bootstrap_stopped"); cut != in.run.end()) {
      page.add(format_text("<p class=\"note\">The bootstrap was stopped: of %d replicates, %d were fitted, %d failed, "
                           "%d were stopped part-way and %d were not run. The spread rests on the %d fitted "
                           "replicates only.</p>",
                           cut->value("replicates", 0), cut->value("fitted", 0), cut->value("failed", 0),
                           cut->value("stopped_part_way", 0), cut->value("not_run", 0), cut->value("fitted", 0)));
    }
    std::vector<IntervalMarks> marks;
    if (in.displacement) {
      const double dq = drawn_level(*in.displacement, 4.0);
      marks.push_back({&*in.displacement, dq, "--disp, dQmax " + tick_label(dq), "#d55e00", 0.12});
    }
    if (in.bs_displacement) {
      const double dq = drawn_level(*in.bs_displacement, 4.0);
      marks.push_back({&*in.bs_displacement, dq, "--bs-disp, dQmax " + tick_label(dq), "#6a3d9a", 0.88});
    }
    if (!marks.empty()) {
      page.add("<p class=\"note\">Beside each box: the element's displacement interval (left bar) and its interval "
               "over the displaced fits of the bootstrap replicates (right bar), at the level named in the legend, "
               "divided by the factor's mean contribution to be on the profile's axis; a bar cut at the edge of "
               "the chart reaches 0 or has no upper end.</p>");
    }
    std::size_t k = 0;
    for (const auto& [factor, svg] : bootstrap_charts(*in.bootstrap, marks)) page.figure(bootstrap_figure(k++), svg);
    page.table(*in.bootstrap, nullptr, 2);
  }
  if (in.bootstrap_mapping) {
    page.section("bootstrap_mapping", "Bootstrap mapping", "Mapping");
    page.add("<p class=\"note\">Replicates whose factor correlated best with each factor of this fit. Marked: "
             "mapped in fewer than 80 % of the fitted replicates, so its spread rests on few of them.</p>");
    const std::vector<bool> weak = weakly_mapped(*in.bootstrap_mapping);
    page.table(*in.bootstrap_mapping, &weak);
  }
  if (in.displacement_summary) {
    page.section("displacement", "Displacement", "Displacement");
    page.add("<p class=\"note\">How far each free profile element (times its factor's mean contribution) can "
             "move down (low) and up (high) before chi2, with every other free element and all contributions "
             "refitted, exceeds this fit's chi2 by dQmax. Swaps: interval ends whose fit has a factor matching "
             "another factor of this fit best by correlation of contributions.</p>");
    page.add(displacement_statement(run));
    page.table(*in.displacement_summary);
    if (in.displacement) page.table(*in.displacement, nullptr, 2);
  }
  if (in.bs_displacement_summary) {
    page.section("bs_displacement", "Bootstrap displacement", "BS displacement");
    page.add("<p class=\"note\">The displacement run within each bootstrap replicate (the replicates of the "
             "bootstrap for the same seed, each fitted from this fit's profiles and its factors mapped to this "
             "fit's as the bootstrap maps them): per free element and dQmax the lowest low and the highest high "
             "over the replicates whose factor was mapped to the element's factor (replicates: how many). Swaps "
             "and decreases are counted over the interval ends of all replicates, each against its own "
             "replicate's fit.</p>");
    page.add(bs_displacement_statement(run));
    page.table(*in.bs_displacement_summary);
    if (in.bs_displacement) page.table(*in.bs_displacement, nullptr, 2);
  }
  pages.html = page.finish(title);
  return pages;
}

std::vector<std::string> figure_names(const ReportShape& shape) {
  const auto nf = static_cast<std::size_t>(std::max(shape.nfakt, 0));
  const auto nv = static_cast<std::size_t>(std::max(shape.nvar, 0));
  std::vector<std::string> names = {kRatioFigure, kChi2Figure, kLateFigure};
  if (shape.apportionment) names.emplace_back(kApportionmentFigure);
  for (std::size_t f = 0; f < nf; ++f) {
    names.push_back(numbered_figure(kProfileFigures, f));
    names.push_back(numbered_figure(kShareFigures, f));
  }
  names.emplace_back(kFingerprintFigure);
  for (std::size_t f = 0; f < nf; ++f) names.push_back(numbered_figure(kContributionFigures, f));
  if (shape.apportionment) {
    names.insert(names.end(), {kStackedFigure, kTotalFigure});
    for (std::size_t f = 0; f < nf; ++f) names.push_back(numbered_figure(kConcentrationFigures, f));
  }
  const std::size_t paired = std::min(nf, kPairFactors);
  for (std::size_t f = 0; f < paired; ++f) {
    for (std::size_t g = f + 1; g < paired; ++g) names.push_back(pair_figure(f, g));
  }
  for (std::size_t v = 0; v < nv; ++v) {
    names.push_back(numbered_figure(kFitFigures, v));
    names.push_back(numbered_figure(kResidualFigures, v));
  }
  names.insert(names.end(), {kRecordsFigure, kResidueProfileFigure, kResidueContributionsFigure});
  if (shape.bootstrap) {
    for (std::size_t k = 0; k < nf; ++k) names.push_back(bootstrap_figure(k));
  }
  return names;
}
