#include "output/diagnostic_tables.h"

#include "output/number_text.h"
#include "robust/summary.h"

namespace {

void put_number(std::string& out, double value) {
  char buf[kNumberTextSize];
  out.append(buf, format_lg(buf, value));
}

}  // namespace

std::string variables_table(const Problem& problem, const FitState& state, const Diagnostics& d, const RegressionTable& regression,
                            double alpha) {
  std::string out =
      "variable\tmeasured\tmissing\tchi2\tny\tchi2/ny\tbeyond 3\tshare beyond 3\tobserved mean\tfitted mean\tR2\t"
      "slope\tintercept";
  for (const std::string& name : problem.faktnavn) out += "\t" + name + "\ts(" + name + ")";
  // In robust mode: how many of the variable's values the fit down-weighted.
  const bool robust = alpha > 0;
  const RobustSummary summary = robust ? summarize_robust(problem, state, alpha) : RobustSummary{};
  if (robust) out += "\tdown-weighted";
  out += '\n';
  const auto nf = static_cast<std::size_t>(problem.nfakt);
  for (std::size_t v = 0; v < d.variables.size(); ++v) {
    const VariableDiagnostics& var = d.variables[v];
    out += problem.varnavn[v];
    out += '\t' + std::to_string(var.measured) + '\t' + std::to_string(var.missing) + '\t';
    put_number(out, var.chi2);
    out += '\t' + std::to_string(var.dof) + '\t';
    put_number(out, var.chi2_per_dof);
    out += '\t' + std::to_string(var.beyond);
    for (double value : {var.beyond_share, var.observed_mean, var.fitted_mean, var.r2, var.slope, var.intercept}) {
      out += '\t';
      put_number(out, value);
    }
    for (std::size_t f = 0; f < nf; ++f) {
      out += '\t';
      put_number(out, regression.coef[v * nf + f]);
      out += '\t';
      put_number(out, regression.se[v * nf + f]);
    }
    if (robust) out += '\t' + std::to_string(summary.variable_down[v]);
    out += '\n';
  }
  return out;
}

std::string records_table(const Problem& problem, const FitState& state, const Diagnostics& d, double alpha) {
  const bool robust = alpha > 0;
  const RobustSummary summary = robust ? summarize_robust(problem, state, alpha) : RobustSummary{};
  std::string out = "identifier\tmeasured\tchi2\tlargest scaled residual\tvariable\tresidue";
  out += robust ? "\tdown-weighted\n" : "\n";
  for (std::size_t s = 0; s < d.records.size(); ++s) {
    const RecordDiagnostics& rec = d.records[s];
    out += problem.id(static_cast<int>(s));
    out += '\t' + std::to_string(rec.measured) + '\t';
    put_number(out, rec.chi2);
    out += '\t';
    if (rec.largest_variable >= 0) {
      put_number(out, rec.largest);
      out += '\t';
      out += problem.varnavn[static_cast<std::size_t>(rec.largest_variable)];
    } else {
      out += '\t';
    }
    out += '\t';
    put_number(out, state.t[s]);
    if (robust) out += '\t' + std::to_string(summary.record_down[s]);
    out += '\n';
  }
  return out;
}
