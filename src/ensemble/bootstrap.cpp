#include "ensemble/bootstrap.h"

#include <algorithm>
#include <cmath>

#include "control/text_format.h"
#include "ensemble/blocks.h"
#include "ensemble/mapping.h"
#include "ensemble/parallel_fits.h"
#include "ensemble/random.h"
#include "ensemble/statistics.h"
#include "ensemble/tsv_text.h"
#include "fit/iteration.h"

namespace {

enum class Fate { not_run, stopped, failed, fitted };

struct Replicate {
  Fate fate = Fate::not_run;
  long passes = 0;
  std::vector<FactorMatch> mapping;   // per base factor
  std::vector<double> p;              // the replicate's profiles, nvar x nfakt
  std::vector<double> shares;         // with a total: each replicate factor's share of it (per cent)
};

// Each factor's share (per cent) of variable v: its element times its mean
// contribution over the sum of those of every factor.
std::vector<double> shares_of(const Problem& problem, const FitState& fit, int v) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  std::vector<double> amount(nfakt, 0.0);
  for (int s = 0; s < problem.nrec; ++s) {
    for (std::size_t f = 0; f < nfakt; ++f) amount[f] += fit.x[static_cast<std::size_t>(s) * nfakt + f];
  }
  double total = 0.0;
  for (std::size_t f = 0; f < nfakt; ++f) {
    amount[f] = fit.p[static_cast<std::size_t>(v) * nfakt + f] * (amount[f] / problem.nrec);
    total += amount[f];
  }
  for (std::size_t f = 0; f < nfakt; ++f) amount[f] = amount[f] / total * 100.0;
  return amount;
}

}  // namespace

std::vector<FactorMatch> map_replicate(const Problem& problem, const FitState& base, const std::vector<int>& records,
                                       const FitState& fit, double min_r) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  // The base contributions of the drawn records, in the replicate's order.
  std::vector<double> base_x(records.size() * nfakt);
  for (std::size_t s = 0; s < records.size(); ++s) {
    std::copy_n(base.x.data() + static_cast<std::size_t>(records[s]) * nfakt, nfakt, base_x.data() + s * nfakt);
  }
  const int nrec = static_cast<int>(records.size());
  return map_factors({base_x.data(), nrec, problem.nfakt}, {fit.x.data(), nrec, problem.nfakt}, min_r,
                     problem.offset);
}

BootstrapRun run_bootstrap(const Problem& problem, const FitState& base, const FitSettings& fit_settings,
                           FitObserver& observer, const BootstrapSettings& settings) {
  BootstrapRun run;
  run.replicates = settings.replicates;
  run.block = settings.block > 0 ? std::min(settings.block, problem.nrec) : automatic_block_length(problem, base);
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  std::vector<Replicate> replicates(static_cast<std::size_t>(settings.replicates));
  FitSettings one_thread = fit_settings;  // each replicate runs on one thread
  one_thread.threads = 1;
  SharedStop shared(observer);
  shared.discard_key_before_fits();  // a key that stopped the fit does not stop the bootstrap

  run_fits(settings.replicates, settings.threads, shared, [&](int i) {
    const std::vector<int> records = replicate_records(problem.nrec, run.block, settings.seed, i);
    const Problem replicate = replicate_problem(problem, base.p, records);
    FitState fit = FitState::sized_for(replicate);
    const FitOutcome outcome = run_fit(replicate, one_thread, fit, shared);
    Replicate& slot = replicates[static_cast<std::size_t>(i)];
    // A fit a key or Ctrl-C ended before its own stop rule is not a replicate of
    // the base fit: it is counted apart and its profiles are not used.
    if (outcome.reason == StopReason::key || outcome.reason == StopReason::interrupted) {
      slot.fate = Fate::stopped;
      return;
    }
    if (outcome.failed || !std::isfinite(fit.chi2)) {
      slot.fate = Fate::failed;
      return;
    }
    slot.mapping = map_replicate(problem, base, records, fit, settings.min_r);
    if (settings.total >= 0) slot.shares = shares_of(replicate, fit, settings.total);
    slot.p = std::move(fit.p);
    slot.passes = outcome.passes;
    slot.fate = Fate::fitted;
  });

  run.mapped.assign(nfakt, 0);
  run.values.assign(nfakt * nvar, {});
  if (settings.total >= 0) run.shares.assign(nfakt, {});
  for (const Replicate& replicate : replicates) {
    if (replicate.fate == Fate::not_run) {
      ++run.not_run;
      continue;
    }
    if (replicate.fate == Fate::stopped) {
      ++run.stopped;
      continue;
    }
    if (replicate.fate == Fate::failed) {
      ++run.failed;
      continue;
    }
    ++run.fitted;
    run.passes += replicate.passes;
    for (std::size_t f = 0; f < nfakt; ++f) {
      const int j = replicate.mapping[f].factor;
      if (j < 0) continue;
      ++run.mapped[f];
      if (!run.shares.empty() && std::isfinite(replicate.shares[static_cast<std::size_t>(j)])) {
        run.shares[f].push_back(replicate.shares[static_cast<std::size_t>(j)]);
      }
      for (std::size_t v = 0; v < nvar; ++v) {
        const double value = replicate.p[v * nfakt + static_cast<std::size_t>(j)];
        if (std::isfinite(value)) run.values[f * nvar + v].push_back(value);
      }
    }
  }
  return run;
}

std::string bootstrap_summary(const Problem& problem, const BootstrapRun& run) {
  std::string out = format_text("Bootstrap: %d replicates in blocks of %d records: %d fitted, %d failed",
                                run.replicates, run.block, run.fitted, run.failed);
  if (run.stopped > 0) out += format_text(", %d stopped part-way (not used)", run.stopped);
  if (run.not_run > 0) out += format_text(", %d not run (stopped)", run.not_run);
  if (run.fitted > 0) {
    out += format_text("; %.0f passes per replicate on average", static_cast<double>(run.passes) / run.fitted);
  }
  out += ".\n";
  for (std::size_t f = 0; f < run.mapped.size(); ++f) {
    out += format_text("Bootstrap factor %s: mapped in %d of %d fitted replicates.\n", problem.faktnavn[f].c_str(),
                       run.mapped[f], run.fitted);
  }
  return out;
}

TextTable bootstrap_table(const Problem& problem, const FitState& base, const BootstrapRun& run) {
  static constexpr double kLevels[] = {0.05, 0.25, 0.5, 0.75, 0.95};
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  TextTable table;
  table.headings = {"factor", "variable", "base", "p05", "p25", "p50", "p75", "p95", "replicates"};
  std::vector<double> sorted;
  for (std::size_t f = 0; f < nfakt; ++f) {
    for (std::size_t v = 0; v < nvar; ++v) {
      sorted = run.values[f * nvar + v];
      std::sort(sorted.begin(), sorted.end());
      std::vector<std::string> row = {problem.faktnavn[f], problem.varnavn[v], number_cell(base.p[v * nfakt + f])};
      for (double level : kLevels) row.push_back(number_cell(percentile(sorted, level)));
      row.push_back(std::to_string(sorted.size()));
      table.rows.push_back(std::move(row));
    }
  }
  return table;
}

TextTable mapping_table(const Problem& problem, const BootstrapRun& run) {
  TextTable table;
  table.headings = {"factor", "mapped", "unmapped", "failed"};
  for (std::size_t f = 0; f < run.mapped.size(); ++f) {
    table.rows.push_back({problem.faktnavn[f], std::to_string(run.mapped[f]), std::to_string(run.fitted - run.mapped[f]),
                          std::to_string(run.failed)});
  }
  return table;
}
