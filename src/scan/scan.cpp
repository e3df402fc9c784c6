#include "scan/scan.h"

#include <chrono>
#include <cmath>
#include <limits>

#include "control/text_format.h"
#include "ensemble/fresh_starts.h"
#include "ensemble/parallel_fits.h"
#include "ensemble/stability.h"
#include "ensemble/starts.h"
#include "ensemble/tsv_text.h"
#include "fit/residue.h"
#include "stats/diagnostics.h"
#include "stats/regression.h"

namespace {

// Variables with chi2/ny above 2 in the best solution, counted as variables.tsv
// would show them after a fit of this K: the residue, then the regression.
int species_above_2(const Problem& problem, FitState& state, int threads) {
  residue(problem, state);
  const RegressionTable regression = regression_table(problem, state, threads);
  const Diagnostics diagnostics = diagnose(problem, state, regression);
  int count = 0;
  for (const VariableDiagnostics& v : diagnostics.variables) {
    if (v.chi2_per_dof > 2.0) ++count;
  }
  return count;
}

ScanRow scan_factors(const Problem& base, int nfakt, const FitSettings& fit, const ScanSettings& settings,
                     FitObserver& observer) {
  const auto started = std::chrono::steady_clock::now();
  const Problem problem = problem_with_factors(base, nfakt);
  ScanRow row;
  row.factors = nfakt;
  row.q_exp = expected_q(problem);
  row.drop_percent = std::nan("");
  row.smallest_share = std::nan("");
  StartsRun run = run_starts(problem, fit, observer, settings.starts, fresh_starts(problem, settings.seed),
                             [](const std::string&) {});
  if (run.best >= 0) {
    row.has_result = true;
    row.best_chi2 = run.starts[static_cast<std::size_t>(run.best)].chi2;
    const Stability stability = assess_stability(problem, run, settings.total);
    row.reproduced = stability.reproduced;
    row.starts_at_best = static_cast<double>(stability.reproduced) / static_cast<double>(settings.starts);
    if (settings.total >= 0) {
      const StartResult& best = run.starts[static_cast<std::size_t>(run.best)];
      const std::vector<double> shares = factor_shares(problem, best.p.data(), best.x.data(), settings.total);
      row.smallest_share = std::numeric_limits<double>::infinity();
      for (double share : shares) row.smallest_share = std::min(row.smallest_share, share);
    }
    row.species_above_2 = species_above_2(problem, run.best_state, fit.threads);
  }
  row.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return row;
}

}  // namespace

long expected_q(const Problem& problem) {
  long values = 0;
  for (float u : problem.usik) {
    if (u > 0) ++values;
  }
  long free = 0;
  for (int f : problem.fp) {
    if (f != 0) ++free;
  }
  const long contributions = static_cast<long>(problem.nrec) * (problem.nfakt - problem.offset);
  return values - free - contributions;
}

Problem problem_with_factors(const Problem& base, int nfakt) {
  Problem problem = base;
  problem.nfakt = nfakt;
  problem.faktnavn.clear();
  for (int f = 0; f < nfakt; ++f) problem.faktnavn.push_back("F" + std::to_string(f + 1));
  const std::size_t elements = static_cast<std::size_t>(problem.nvar) * static_cast<std::size_t>(nfakt);
  problem.fp.assign(elements, 1);
  problem.starting_p.assign(elements, 0.0);
  return problem;
}

std::vector<ScanRow> run_scan(const Problem& base, const FitSettings& fit, const ScanSettings& settings,
                              FitObserver& observer, const std::function<void(const ScanRow&)>& done) {
  std::vector<ScanRow> rows;
  SharedStop stop(observer);
  for (int k = settings.first; k <= settings.last; ++k) {
    ScanRow row = scan_factors(base, k, fit, settings, stop);
    if (!rows.empty() && rows.back().has_result && row.has_result) {
      row.drop_percent = 100.0 * (rows.back().best_chi2 - row.best_chi2) / rows.back().best_chi2;
    }
    rows.push_back(row);
    done(row);
    if (stop.stopped()) break;
  }
  return rows;
}

TextTable scan_table(const std::vector<ScanRow>& rows) {
  TextTable table;
  table.headings = {"factors",        "best_chi2",      "q_exp",           "chi2_over_qexp", "drop_from_previous",
                    "starts_at_best", "smallest_share", "species_above_2", "seconds"};
  for (const ScanRow& row : rows) {
    std::vector<std::string> cells = {std::to_string(row.factors)};
    if (!row.has_result) {
      cells.insert(cells.end(), {"", std::to_string(row.q_exp), "", "", "0", "", ""});
    } else {
      cells.push_back(number_cell(row.best_chi2));
      cells.push_back(std::to_string(row.q_exp));
      cells.push_back(number_cell(row.best_chi2 / static_cast<double>(row.q_exp)));
      cells.push_back(std::isnan(row.drop_percent) ? "" : number_cell(row.drop_percent));
      cells.push_back(number_cell(row.starts_at_best));
      cells.push_back(std::isnan(row.smallest_share) ? "" : number_cell(row.smallest_share));
      cells.push_back(std::to_string(row.species_above_2));
    }
    cells.push_back(format_text("%.2f", row.seconds));
    table.rows.push_back(std::move(cells));
  }
  return table;
}
