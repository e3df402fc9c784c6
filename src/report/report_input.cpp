#include "report/report_input.h"

#include <algorithm>

#include <cmath>

nlohmann::json apportionment_record(const ReportInput& in, std::size_t v) {
  const ResultNumbers& r = in.result;
  const auto nfakt = static_cast<std::size_t>(r.nfakt);
  std::vector<double> mean_x(nfakt, 0.0);
  for (std::size_t s = 0; s < static_cast<std::size_t>(r.nrec); ++s) {
    for (std::size_t f = 0; f < nfakt; ++f) mean_x[f] += r.x[s * nfakt + f];
  }
  double total = 0.0;
  std::vector<double> mean(nfakt);
  for (std::size_t f = 0; f < nfakt; ++f) {
    mean_x[f] = mean_x[f] / r.nrec;
    mean[f] = r.p[v * nfakt + f] * mean_x[f];
    total += mean[f];
  }
  const nlohmann::json& factors = in.run.value("factors", nlohmann::json::array());
  nlohmann::json shares = nlohmann::json::array();
  for (std::size_t f = 0; f < nfakt; ++f) {
    shares.push_back({{"factor", f < factors.size() ? factors[f] : nlohmann::json("")},
                      {"mean", mean[f]},
                      {"percent", mean[f] / total * 100.0}});
  }
  double sum = 0.0;
  int measured = 0;
  if (v < in.observed.size()) {
    for (double value : in.observed[v]) {
      if (std::isnan(value)) continue;
      sum += value;
      ++measured;
    }
  }
  const nlohmann::json& variables = in.run.value("variables", nlohmann::json::array());
  // A mean of no values is not a number; the record holds it as null.
  const double observed_mean = sum / measured;
  return {{"variable", v < variables.size() ? variables[v] : nlohmann::json("")},
          {"observed_mean", std::isfinite(observed_mean) ? nlohmann::json(observed_mean) : nlohmann::json()},
          {"factors", shares}};
}

void rename_factors(ReportInput* in, const std::vector<std::string>& names) {
  std::vector<std::string> old;
  for (const nlohmann::json& name : in->run.value("factors", nlohmann::json::array())) {
    old.push_back(name.is_string() ? name.get<std::string>() : std::string());
  }
  in->run["factors"] = names;
  if (in->run.contains("apportionment")) {
    nlohmann::json& shares = in->run["apportionment"]["factors"];
    for (std::size_t f = 0; f < shares.size() && f < names.size(); ++f) shares[f]["factor"] = names[f];
  }
  // Per-factor headings name their factor: "F", "s(F)" in the variables table,
  // "r F" in the starts table; they come in factor order.
  auto rename_headings = [&](std::vector<std::string>* headings, const std::string& before, const std::string& after) {
    std::size_t f = 0;
    for (std::string& heading : *headings) {
      if (f < old.size() && f < names.size() && heading == before + old[f] + after) heading = before + names[f++] + after;
    }
  };
  rename_headings(&in->variables.headings, "", "");
  rename_headings(&in->variables.headings, "s(", ")");
  if (in->starts) {
    rename_headings(&in->starts->headings, "r ", "");
    rename_headings(&in->starts->headings, "profile r ", "");
    rename_headings(&in->starts->headings, "contribution r ", "");
  }
  // The stability line lists the factors' shares in factor order after its colon.
  std::size_t at = in->starts_summary.find(':');
  for (std::size_t f = 0; at != std::string::npos && f < old.size() && f < names.size(); ++f) {
    at = in->starts_summary.find(" " + old[f] + " ", at);
    if (at == std::string::npos) break;
    in->starts_summary.replace(at + 1, old[f].size(), names[f]);
    at += names[f].size() + 1;
  }
  // The bootstrap table lists its rows factor by factor, the mapping one row each.
  if (in->bootstrap) {
    std::size_t group = 0;
    std::string previous;
    bool first = true;
    for (std::vector<std::string>& cells : in->bootstrap->rows) {
      if (cells.empty()) continue;
      if (!first && cells[0] != previous) ++group;
      first = false;
      previous = cells[0];
      if (group < names.size()) cells[0] = names[group];
    }
  }
  if (in->bootstrap_mapping) {
    for (std::size_t row = 0; row < in->bootstrap_mapping->rows.size() && row < names.size(); ++row) {
      if (!in->bootstrap_mapping->rows[row].empty()) in->bootstrap_mapping->rows[row][0] = names[row];
    }
  }
  // The displacement tables leave out factors without a free element: their rows
  // are renamed by the old name (the first factor of that name).
  auto rename_by_name = [&](std::optional<TextTable>& table) {
    if (!table) return;
    for (std::vector<std::string>& cells : table->rows) {
      if (cells.empty()) continue;
      const auto f = static_cast<std::size_t>(std::find(old.begin(), old.end(), cells[0]) - old.begin());
      if (f < old.size() && f < names.size()) cells[0] = names[f];
    }
  };
  rename_by_name(in->displacement);
  rename_by_name(in->bs_displacement);
  rename_by_name(in->apportionment_intervals);
}
