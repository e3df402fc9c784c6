#include "output/diagnostic_tables.h"

#include "formats/number_text.h"
#include "robust/summary.h"

namespace {

std::string number(double value) {
  char buf[kNumberTextSize];
  return std::string(buf, format_lg(buf, value));
}

}  // namespace

TextTable variables_table(const Problem& problem, const FitState& state, const Diagnostics& d,
                          const RegressionTable& regression, double alpha) {
  TextTable table;
  table.headings = {"variable", "measured", "missing", "chi2", "ny", "chi2/ny", "beyond 3", "share beyond 3",
                    "observed mean", "fitted mean", "R2", "slope", "intercept"};
  for (const std::string& name : problem.faktnavn) {
    table.headings.push_back(name);
    table.headings.push_back("s(" + name + ")");
  }
  // In robust mode: how many of the variable's values the fit down-weighted.
  const bool robust = alpha > 0;
  const RobustSummary summary = robust ? summarize_robust(problem, state, alpha) : RobustSummary{};
  if (robust) table.headings.emplace_back("down-weighted");
  const auto nf = static_cast<std::size_t>(problem.nfakt);
  for (std::size_t v = 0; v < d.variables.size(); ++v) {
    const VariableDiagnostics& var = d.variables[v];
    std::vector<std::string> row = {problem.varnavn[v], std::to_string(var.measured), std::to_string(var.missing),
                                    number(var.chi2), std::to_string(var.dof), number(var.chi2_per_dof),
                                    std::to_string(var.beyond)};
    for (double value : {var.beyond_share, var.observed_mean, var.fitted_mean, var.r2, var.slope, var.intercept}) {
      row.push_back(number(value));
    }
    for (std::size_t f = 0; f < nf; ++f) {
      row.push_back(number(regression.coef[v * nf + f]));
      row.push_back(number(regression.se[v * nf + f]));
    }
    if (robust) row.push_back(std::to_string(summary.variable_down[v]));
    table.rows.push_back(std::move(row));
  }
  return table;
}

TextTable records_table(const Problem& problem, const FitState& state, const Diagnostics& d, double alpha) {
  const bool robust = alpha > 0;
  const RobustSummary summary = robust ? summarize_robust(problem, state, alpha) : RobustSummary{};
  TextTable table;
  table.headings = {"identifier", "measured", "chi2", "largest scaled residual", "variable", "residue"};
  if (robust) table.headings.emplace_back("down-weighted");
  for (std::size_t s = 0; s < d.records.size(); ++s) {
    const RecordDiagnostics& rec = d.records[s];
    std::vector<std::string> row = {std::string(problem.id(static_cast<int>(s))), std::to_string(rec.measured),
                                    number(rec.chi2)};
    // A record with nothing measured has no largest scaled residual: both cells stay empty.
    if (rec.largest_variable >= 0) {
      row.push_back(number(rec.largest));
      row.push_back(problem.varnavn[static_cast<std::size_t>(rec.largest_variable)]);
    } else {
      row.insert(row.end(), {"", ""});
    }
    row.push_back(number(state.t[s]));
    if (robust) row.push_back(std::to_string(summary.record_down[s]));
    table.rows.push_back(std::move(row));
  }
  return table;
}
