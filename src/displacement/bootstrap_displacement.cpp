#include "displacement/bootstrap_displacement.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "control/failure.h"
#include "control/text_format.h"
#include "displacement/hold.h"
#include "ensemble/blocks.h"
#include "ensemble/bootstrap.h"
#include "ensemble/parallel_fits.h"
#include "ensemble/tsv_text.h"
#include "fit/iteration.h"

namespace {

enum class Fate { not_run, stopped, failed, fitted };

struct Replicate {
  Fate fate = Fate::not_run;
  double chi2 = std::nan("");        // of the replicate's own fit
  std::vector<FactorMatch> mapping;  // per base factor
  DisplacementRun displacement;      // of the replicate's own fit
};

// Widens [*low, *high] to hold `low` and `high`; a NaN end is no end.
void widen(double low, double high, double* lowest, double* highest) {
  if (!std::isnan(low) && (std::isnan(*lowest) || low < *lowest)) *lowest = low;
  if (!std::isnan(high) && (std::isnan(*highest) || high > *highest)) *highest = high;
}

}  // namespace

bool BootstrapDisplacementRun::decreased() const {
  if (levels.empty()) return false;
  for (double decrease : largest_decrease) {
    if (decrease > kDecreaseTolerance * levels.front()) return true;
  }
  return false;
}

BootstrapDisplacementRun run_bootstrap_displacement(const Problem& problem, const FitState& base,
                                                    const FitSettings& fit_settings, FitObserver& observer,
                                                    const BootstrapDisplacementSettings& settings) {
  BootstrapDisplacementRun run;
  run.levels = settings.levels;
  run.replicates = settings.replicates;
  run.block = settings.block > 0 ? std::min(settings.block, problem.nrec) : automatic_block_length(problem, base);
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const std::size_t nlevels = settings.levels.size();

  // The base fit's free elements, and where each sits by factor and variable.
  std::vector<int> element_at(nfakt * nvar, -1);
  for (std::size_t f = 0; f < nfakt; ++f) {
    for (std::size_t v = 0; v < nvar; ++v) {
      if (problem.fp[v * nfakt + f] == 0) continue;
      ElementInterval element;
      element.factor = static_cast<int>(f);
      element.variable = static_cast<int>(v);
      element.base = scale_free_element(problem, base, element.factor, element.variable);
      element.low.assign(nlevels, std::nan(""));
      element.high.assign(nlevels, std::nan(""));
      element_at[f * nvar + v] = static_cast<int>(run.elements.size());
      run.elements.push_back(std::move(element));
    }
  }
  run.counted.assign(run.elements.size(), 0);

  FitSettings one_thread = fit_settings;  // each replicate runs on one thread
  one_thread.threads = 1;
  one_thread.holds.clear();
  SharedStop shared(observer);
  shared.discard_key_before_fits();
  std::vector<Replicate> replicates(static_cast<std::size_t>(settings.replicates));
  const long searches = static_cast<long>(run.elements.size()) * 2;
  const long count = searches * settings.replicates;
  std::mutex progress_mutex;
  long done = 0;

  run_fits(settings.replicates, settings.threads, shared, [&](int i) {
    const std::vector<int> records = replicate_records(problem.nrec, run.block, settings.seed, i);
    const Problem replicate = replicate_problem(problem, base.p, records);
    FitState fit = FitState::sized_for(replicate);
    const FitOutcome outcome = run_fit(replicate, one_thread, fit, shared);
    Replicate& slot = replicates[static_cast<std::size_t>(i)];
    long skipped = searches;  // searches of this replicate not reported to the progress
    auto advance = [&](long by) {
      if (!settings.progress || by == 0) return;
      std::lock_guard<std::mutex> lock(progress_mutex);
      done += by;
      settings.progress(done, count);
    };
    if (outcome.reason == StopReason::key || outcome.reason == StopReason::interrupted) {
      slot.fate = Fate::stopped;
      return;
    }
    if (outcome.failed || !std::isfinite(fit.chi2)) {
      slot.fate = Fate::failed;
      advance(skipped);
      return;
    }
    slot.chi2 = fit.chi2;
    slot.mapping = map_replicate(problem, base, records, fit, settings.min_r);
    DisplacementSettings displacement;
    displacement.levels = settings.levels;
    displacement.threads = 1;
    displacement.decrease_from_fit = false;  // a replicate's fit is refined to its minimum first
    displacement.progress = [&](int, int) {
      --skipped;
      advance(1);
    };
    slot.displacement = run_displacement(replicate, fit, one_thread, shared, displacement);
    slot.fate = slot.displacement.not_run > 0 ? Fate::stopped : Fate::fitted;
  });

  run.mapped.assign(nfakt, 0);
  run.swaps.assign(nlevels, 0);
  run.largest_decrease.assign(nlevels, 0.0);
  for (const Replicate& replicate : replicates) {
    run.chi2.push_back(replicate.chi2);
    switch (replicate.fate) {
      case Fate::not_run:
        ++run.not_run;
        continue;
      case Fate::stopped:
        ++run.stopped;
        continue;
      case Fate::failed:
        ++run.failed;
        continue;
      case Fate::fitted:
        break;
    }
    ++run.fitted;
    const DisplacementRun& d = replicate.displacement;
    run.fits += d.fits;
    run.failed_fits += d.failed;
    run.ends += 2 * static_cast<long>(d.elements.size());
    for (std::size_t k = 0; k < nlevels; ++k) {
      run.swaps[k] += d.swaps[k];
      run.largest_decrease[k] = std::max(run.largest_decrease[k], d.largest_decrease[k]);
    }
    // The replicate factor mapped to each base factor gives its intervals to the
    // base factor's elements.
    std::vector<int> base_factor(nfakt, -1);
    for (std::size_t f = 0; f < nfakt; ++f) {
      const int j = replicate.mapping[f].factor;
      if (j < 0) continue;
      ++run.mapped[f];
      base_factor[static_cast<std::size_t>(j)] = static_cast<int>(f);
    }
    for (const ElementInterval& element : d.elements) {
      const int f = base_factor[static_cast<std::size_t>(element.factor)];
      if (f < 0) continue;
      const int at = element_at[static_cast<std::size_t>(f) * nvar + static_cast<std::size_t>(element.variable)];
      if (at < 0) continue;
      ElementInterval& into = run.elements[static_cast<std::size_t>(at)];
      for (std::size_t k = 0; k < nlevels; ++k) widen(element.low[k], element.high[k], &into.low[k], &into.high[k]);
      ++run.counted[static_cast<std::size_t>(at)];
    }
  }
  return run;
}

std::vector<double> parse_bootstrap_levels(const std::string& text) {
  try {
    return parse_levels(text);
  } catch (const Failure&) {
    fail("Error: --bs-disp-levels needs rising positive numbers separated by commas, not '%s'!\n",
         quote_cell(text).c_str());
  }
}

std::string bootstrap_displacement_summary(const BootstrapDisplacementRun& run) {
  std::string out = format_text(
      "Bootstrap displacement: %d replicates in blocks of %d records: %d fitted, %d failed", run.replicates,
      run.block, run.fitted, run.failed);
  if (run.stopped > 0) out += format_text(", %d stopped part-way (not used)", run.stopped);
  if (run.not_run > 0) out += format_text(", %d not run (stopped)", run.not_run);
  out += format_text("; %ld constrained fits (%ld failed).\n", run.fits, run.failed_fits);
  for (std::size_t k = 0; k < run.levels.size(); ++k) {
    out += format_text("Bootstrap displacement dQmax %lg: %d swaps in %ld interval ends, largest chi2 decrease %lg.\n",
                       run.levels[k], run.swaps[k], run.ends, run.largest_decrease[k]);
  }
  if (run.decreased()) {
    out += "WARNING: a displaced fit of a bootstrap replicate reached a lower chi2 than the replicate's own fit: "
           "its intervals describe a local minimum.\n";
  }
  return out;
}

TextTable bootstrap_displacement_table(const Problem& problem, const BootstrapDisplacementRun& run) {
  TextTable table;
  table.headings = {"factor", "variable", "base", "dq", "low", "high", "replicates"};
  for (std::size_t e = 0; e < run.elements.size(); ++e) {
    const ElementInterval& element = run.elements[e];
    for (std::size_t k = 0; k < run.levels.size(); ++k) {
      table.rows.push_back({problem.faktnavn[static_cast<std::size_t>(element.factor)],
                            problem.varnavn[static_cast<std::size_t>(element.variable)], number_cell(element.base),
                            number_cell(run.levels[k]), number_cell(element.low[k]), number_cell(element.high[k]),
                            std::to_string(run.counted[e])});
    }
  }
  return table;
}

TextTable bootstrap_displacement_summary_table(const BootstrapDisplacementRun& run) {
  TextTable table;
  table.headings = {"dq", "swaps", "largest_decrease"};
  for (std::size_t k = 0; k < run.levels.size(); ++k) {
    table.rows.push_back(
        {number_cell(run.levels[k]), std::to_string(run.swaps[k]), number_cell(run.largest_decrease[k])});
  }
  return table;
}
