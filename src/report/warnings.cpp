#include "report/warnings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "control/text_format.h"
#include "report/bootstrap_charts.h"
#include "report/html_report.h"
#include "report/svg_chart.h"

namespace {

constexpr std::size_t kNamesListed = 8;  // names in one sentence before "and N more"

std::size_t column(const TextTable& t, std::string_view heading) {
  const auto at = std::find(t.headings.begin(), t.headings.end(), heading);
  return at == t.headings.end() ? std::string::npos : static_cast<std::size_t>(at - t.headings.begin());
}

// The number in a cell; NaN when the column or the number is missing.
double number(const TextTable& t, std::size_t row, std::size_t col) {
  if (col == std::string::npos || col >= t.rows[row].size() || t.rows[row][col].empty()) return std::nan("");
  char* end = nullptr;
  const double value = std::strtod(t.rows[row][col].c_str(), &end);
  return *end == '\0' ? value : std::nan("");
}

std::string listed(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t k = 0; k < names.size() && k < kNamesListed; ++k) out += (k == 0 ? "" : ", ") + names[k];
  if (names.size() > kNamesListed) out += " and " + std::to_string(names.size() - kNamesListed) + " more";
  return out;
}

long integer(const nlohmann::json& value) { return value.is_number() ? value.get<long>() : 0; }

void stop_warnings(const nlohmann::json& run, std::vector<Warning>* out) {
  const nlohmann::json stop = run.value("stop", nlohmann::json::object());
  const std::string reason = stop.value("reason", std::string());
  const long passes = integer(stop.value("passes", nlohmann::json()));
  const long result_pass = integer(stop.value("result_pass", nlohmann::json()));
  const nlohmann::json converged = stop.value("converged", nlohmann::json());
  if (converged.is_boolean() && !converged.get<bool>()) {
    out->push_back({format_text("The fit did not converge: it stopped after %ld passes (%s).", passes, reason.c_str()),
                    "convergence"});
  } else if (reason == "interrupted") {
    out->push_back({format_text("The fit was interrupted after %ld passes.", passes), "convergence"});
  }
  const nlohmann::json diverged = stop.value("diverged_pass", nlohmann::json());
  if (reason == "diverged" || diverged.is_number()) {
    out->push_back({format_text("The fit diverged at pass %ld.", integer(diverged)), "convergence"});
  }
  if (passes > 0 && result_pass > 0 && static_cast<double>(result_pass) < kEarlyResultShare * static_cast<double>(passes)) {
    out->push_back({format_text("The result belongs to pass %ld of %ld, far before the last pass.", result_pass, passes),
                    "convergence"});
  }
  if (run.contains("robust")) {
    const nlohmann::json& robust = run["robust"];
    const nlohmann::json share = robust.value("down_weighted_share", nlohmann::json());
    if (share.is_number() && share.get<double>() > kDownWeightedShare) {
      out->push_back({format_text("The robust fit down-weighted %.4g %% of the measured values.",
                                  100.0 * share.get<double>()),
                      "summary"});
    }
  }
}

void starts_warning(const TextTable& starts, std::vector<Warning>* out) {
  const std::size_t chi2 = column(starts, "chi2");
  std::vector<double> values;
  for (std::size_t row = 0; row < starts.rows.size(); ++row) {
    const double v = number(starts, row, chi2);
    if (std::isfinite(v)) values.push_back(v);
  }
  if (values.size() < 2) return;
  const double lowest = *std::min_element(values.begin(), values.end());
  const auto apart = std::count_if(values.begin(), values.end(),
                                   [&](double v) { return v - lowest > kStartsChi2Spread * std::fabs(lowest); });
  if (apart == 0) return;
  out->push_back({format_text("%ld of %zu starts ended with a chi2 more than %g %% above the lowest: they reached "
                              "other minima.",
                              static_cast<long>(apart), values.size(), kStartsChi2Spread * 100),
                  "starts"});
}

void bootstrap_warning(const TextTable& mapping, std::vector<Warning>* out) {
  const std::vector<bool> weak = weakly_mapped(mapping);
  std::vector<std::string> names;
  for (std::size_t row = 0; row < mapping.rows.size(); ++row) {
    if (weak[row] && !mapping.rows[row].empty()) names.push_back(mapping.rows[row][0]);
  }
  if (names.empty()) return;
  out->push_back({"The bootstrap replicates did not reproduce " + listed(names) + " in " +
                      tick_label(kWellMappedShare * 100) + " % of the replicates (factors swap or split).",
                  "bootstrap_mapping"});
}

void species_warning(const TextTable& variables, std::vector<Warning>* out) {
  const std::size_t per_ny = column(variables, "chi2/ny");
  const std::size_t r2 = column(variables, "R2");
  std::vector<std::string> names;
  for (std::size_t row = 0; row < variables.rows.size(); ++row) {
    if (number(variables, row, per_ny) > kPoorChi2PerNy || number(variables, row, r2) < kPoorR2) {
      names.push_back(variables.rows[row].empty() ? std::string() : variables.rows[row][0]);
    }
  }
  if (names.empty()) return;
  out->push_back({std::to_string(names.size()) + " of " + std::to_string(variables.rows.size()) +
                      " species are fitted badly (chi2/ny above " + tick_label(kPoorChi2PerNy) + " or R2 below " +
                      tick_label(kPoorR2) + "): " + listed(names) + ".",
                  "variables"});
}

void records_warning(const TextTable& records, std::vector<Warning>* out) {
  const std::size_t chi2 = column(records, "chi2");
  std::vector<double> values;
  for (std::size_t row = 0; row < records.rows.size(); ++row) {
    const double v = number(records, row, chi2);
    if (std::isfinite(v)) values.push_back(v);
  }
  if (values.size() < 3) return;
  std::vector<double> sorted = values;
  const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
  std::nth_element(sorted.begin(), middle, sorted.end());
  const double median = *middle;
  if (!(median > 0)) return;
  std::vector<std::string> names;
  for (std::size_t row = 0; row < records.rows.size(); ++row) {
    if (number(records, row, chi2) > kOutlyingRecord * median) names.push_back(records.rows[row][0]);
  }
  if (names.empty()) return;
  out->push_back({std::to_string(names.size()) + " records have a chi2 more than " + tick_label(kOutlyingRecord) +
                      " times the median record's (" + tick_label(median) + "): " + listed(names) + ".",
                  "records"});
}

// A displacement (the run record's member `key`) that saw chi2 fall below the fit
// it displaced (`decrease`, one sentence), or factors swap at some interval end
// (the count, then `swapped`).
void displacement_warnings(const nlohmann::json& run, const char* key, const char* decrease, const char* swapped,
                           const char* section, std::vector<Warning>* out) {
  const nlohmann::json d = run.value(key, nlohmann::json());
  if (!d.is_object()) return;
  if (d.value("chi2_decreased", false)) out->push_back({decrease, section});
  long swaps = 0;
  for (const nlohmann::json& level : d.value("levels", nlohmann::json::array())) {
    const nlohmann::json count = level.value("swaps", nlohmann::json());
    if (count.is_number()) swaps += count.get<long>();
  }
  if (swaps > 0) out->push_back({"Factors swapped in " + std::to_string(swaps) + swapped, section});
}

}  // namespace

std::vector<Warning> report_warnings(const ReportInput& in) {
  std::vector<Warning> out;
  stop_warnings(in.run, &out);
  if (in.starts) starts_warning(*in.starts, &out);
  if (in.bootstrap_mapping) bootstrap_warning(*in.bootstrap_mapping, &out);
  displacement_warnings(in.run, "displacement",
                        "A displaced fit (--disp) reached a lower chi2 than the fit itself: the fit is not at its "
                        "lowest minimum.",
                        " displaced fits (--disp): some factors are not well separated.", "displacement", &out);
  displacement_warnings(in.run, "bootstrap_displacement",
                        "A displaced fit of a bootstrap replicate (--bs-disp) reached a lower chi2 than the "
                        "replicate's own fit: that fit is not at its lowest minimum.",
                        " displaced fits of the bootstrap replicates (--bs-disp): some factors are not well "
                        "separated.",
                        "bs_displacement", &out);
  species_warning(in.variables, &out);
  records_warning(in.records, &out);
  return out;
}

std::string warning_conditions(const ReportInput& in) {
  std::string text = warning_conditions();
  if (in.run.contains("displacement") || in.run.contains("bootstrap_displacement")) {
    text += " With displacement: a displaced fit whose chi2 falls below the fit it displaced by more than " +
            tick_label(kDecreaseShare * 100) + " % of the smallest dQmax, and factors swapped at any interval end.";
  }
  return text;
}

std::string warning_conditions() {
  return "Checked: whether the fit converged (with --converge), was interrupted or diverged; a result from before " +
         tick_label(kEarlyResultShare * 100) + " % of the passes; more than " + tick_label(kDownWeightedShare * 100) +
         " % of the values down-weighted in a robust fit; starts ending more than " +
         tick_label(kStartsChi2Spread * 100) + " % above the lowest chi2; factors mapped in fewer than " +
         tick_label(kWellMappedShare * 100) + " % of the bootstrap replicates; species with chi2/ny above " +
         tick_label(kPoorChi2PerNy) + " or R2 below " + tick_label(kPoorR2) + "; records with a chi2 above " +
         tick_label(kOutlyingRecord) + " times the median record's.";
}
