#include "ensemble/starts.h"

#include <cmath>
#include <mutex>

#include "control/text_format.h"
#include "ensemble/mapping.h"
#include "ensemble/parallel_fits.h"
#include "ensemble/random.h"
#include "ensemble/stability.h"
#include "ensemble/tsv_text.h"
#include "fit/iteration.h"
#include "fit/stop_line.h"

namespace {

std::string start_line(const StartResult& start, int index, int count) {
  std::string line = format_text("Start %d of %d: ", index + 1, count);
  if (!start.ran) return line + "not run (the fit was stopped).\n";
  if (start.outcome.failed) {
    return line + format_text("failed: diverged in pass %ld (chi2 not finite) before any pass had a finite chi2/ny.\n",
                              start.outcome.diverged_pass);
  }
  return line + format_text("chi2 %lg; ", start.chi2) + stop_line(start.outcome, start.chi2, start.nytot);
}

bool has_result(const StartResult& start) { return start.ran && !start.outcome.failed && std::isfinite(start.chi2); }

}  // namespace

void perturb_profiles(std::vector<double>& p, const std::vector<int>& fp, std::uint64_t seed, int start) {
  if (start == 0) return;
  Random rng(seed, static_cast<std::uint64_t>(start));
  for (std::size_t e = 0; e < p.size(); ++e) {
    if (fp[e] != 0) p[e] *= 0.5 + rng.uniform();
  }
}

StartsRun run_starts(const Problem& problem, const FitSettings& settings, FitObserver& observer, int count,
                     std::uint64_t seed, const std::function<void(const std::string&)>& print) {
  return run_starts(
      problem, settings, observer, count,
      [&problem, seed](std::vector<double>& p, int start) { perturb_profiles(p, problem.fp, seed, start); }, print);
}

StartsRun run_starts(const Problem& problem, const FitSettings& settings, FitObserver& observer, int count,
                     const StartProfiles& profiles, const std::function<void(const std::string&)>& print) {
  StartsRun run;
  run.starts.resize(static_cast<std::size_t>(count));
  std::vector<std::string> lines(static_cast<std::size_t>(count));
  std::vector<bool> done(static_cast<std::size_t>(count), false);
  std::size_t printed = 0;
  std::mutex mutex;
  FitSettings one_thread = settings;  // each start runs on one thread
  one_thread.threads = 1;
  SharedStop shared(observer);
  shared.discard_key_before_fits();  // a key pressed before the starts is discarded

  auto finish = [&](int i) {
    // Lines go out in start order, each as soon as every earlier start is done.
    done[static_cast<std::size_t>(i)] = true;
    lines[static_cast<std::size_t>(i)] = start_line(run.starts[static_cast<std::size_t>(i)], i, count);
    while (printed < done.size() && done[printed]) {
      print(lines[printed]);
      ++printed;
    }
  };

  run_fits(count, settings.threads, shared, [&](int i) {
    FitState fit = FitState::sized_for(problem);
    profiles(fit.p, i);
    std::vector<double> start_p = fit.p;
    StartResult result;
    result.ran = true;
    result.outcome = run_fit(problem, one_thread, fit, shared);
    result.chi2 = fit.chi2;
    result.nytot = fit.nytot;
    if (has_result(result)) {
      result.x = fit.x;
      result.p = fit.p;
    }
    std::lock_guard<std::mutex> lock(mutex);
    StartResult& slot = run.starts[static_cast<std::size_t>(i)];
    slot = std::move(result);
    if (has_result(slot)) {
      const bool better = run.best < 0 || slot.chi2 < run.starts[static_cast<std::size_t>(run.best)].chi2 ||
                          (slot.chi2 == run.starts[static_cast<std::size_t>(run.best)].chi2 && i < run.best);
      if (better) {
        run.best = i;
        run.best_state = std::move(fit);
        run.best_p = std::move(start_p);
      }
    }
    finish(i);
  });
  std::lock_guard<std::mutex> lock(mutex);
  for (int i = 0; i < count; ++i) {
    if (!done[static_cast<std::size_t>(i)]) finish(i);  // not run: stopped before it began
  }
  return run;
}

std::string best_start_line(const StartsRun& run) {
  int failed = 0;
  int not_run = 0;
  for (const StartResult& start : run.starts) {
    if (!start.ran) {
      ++not_run;
    } else if (!has_result(start)) {
      ++failed;
    }
  }
  const int count = static_cast<int>(run.starts.size());
  std::string line;
  if (run.best >= 0) {
    const StartResult& best = run.starts[static_cast<std::size_t>(run.best)];
    line = format_text("Best start: %d of %d (chi2 %lg, chi2/ny %lg); ", run.best + 1, count, best.chi2,
                       best.chi2 / best.nytot);
  } else {
    line = "No start has a result; ";
  }
  line += format_text("%d fitted, %d failed, %d not run.\n", count - failed - not_run, failed, not_run);
  return line;
}

TextTable starts_table(const Problem& problem, const StartsRun& run) {
  TextTable table;
  table.headings = {"start", "passes", "stop reason", "chi2", "chi2/ny"};
  for (const std::string& name : problem.faktnavn) table.headings.push_back("r " + name);
  table.headings.insert(table.headings.end(), {"excess %", "reproduced"});
  for (const std::string& name : problem.faktnavn) {
    table.headings.insert(table.headings.end(), {"profile r " + name, "contribution r " + name});
  }
  const std::size_t columns = table.headings.size();
  const Stability stability = run.best >= 0 ? assess_stability(problem, run, -1) : Stability{};
  const StartResult* best = run.best >= 0 ? &run.starts[static_cast<std::size_t>(run.best)] : nullptr;
  for (std::size_t i = 0; i < run.starts.size(); ++i) {
    const StartResult& start = run.starts[i];
    const std::string stop =
        !start.ran ? "not run" : start.outcome.failed ? "failed" : stop_cause(start.outcome.reason);
    std::vector<std::string> row = {std::to_string(i + 1), std::to_string(start.ran ? start.outcome.passes : 0), stop};
    if (!has_result(start)) {
      // No chi2, no chi2/ny and no correlations: empty cells.
      row.resize(columns);
      table.rows.push_back(std::move(row));
      continue;
    }
    row.push_back(number_cell(start.chi2));
    row.push_back(number_cell(start.chi2 / start.nytot));
    const std::vector<FactorMatch> matches = best_matches({best->x.data(), problem.nrec, problem.nfakt},
                                                          {start.x.data(), problem.nrec, problem.nfakt});
    for (const FactorMatch& match : matches) row.push_back(number_cell(match.r));
    const StartStability& own = stability.starts[i];
    row.push_back(number_cell(own.excess_percent));
    row.push_back(own.reproduced ? "yes" : "no");
    for (int f = 0; f < problem.nfakt; ++f) {
      row.push_back(number_cell(own.match.profile_r[static_cast<std::size_t>(f)]));
      row.push_back(number_cell(own.match.contribution_r[static_cast<std::size_t>(f)]));
    }
    table.rows.push_back(std::move(row));
  }
  return table;
}
