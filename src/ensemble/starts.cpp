#include "ensemble/starts.h"

#include <charconv>
#include <cmath>
#include <mutex>

#include "control/failure.h"
#include "ensemble/mapping.h"
#include "ensemble/parallel_fits.h"
#include "ensemble/random.h"
#include "ensemble/tsv_text.h"
#include "fit/stop_line.h"

namespace {

std::string format_line(const char* pattern, auto... values) {
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

std::string start_line(const StartResult& start, int index, int count) {
  std::string line = format_line("Start %d of %d: ", index + 1, count);
  if (!start.ran) return line + "not run (the fit was stopped).\n";
  if (start.outcome.failed) {
    return line + format_line("failed: diverged in pass %ld (chi2 not finite) before any pass had a finite chi2/ny.\n",
                              start.outcome.diverged_pass);
  }
  return line + format_line("chi2 %lg; ", start.chi2) + stop_line(start.outcome, start.chi2, start.nytot);
}

bool has_result(const StartResult& start) { return start.ran && !start.outcome.failed && std::isfinite(start.chi2); }

}  // namespace

void perturb_profiles(Model& m, std::uint64_t seed, int start) {
  if (start == 0) return;
  Random rng(seed, static_cast<std::uint64_t>(start));
  for (std::size_t e = 0; e < m.p.size(); ++e) {
    if (m.fp[e] != 0) m.p[e] *= 0.5 + rng.uniform();
  }
}

StartsRun run_starts(const Model& m, Keyboard& keyboard, const FitOptions& options, int count, std::uint64_t seed,
                     std::FILE* console) {
  StartsRun run;
  run.starts.resize(static_cast<std::size_t>(count));
  std::vector<std::string> lines(static_cast<std::size_t>(count));
  std::vector<bool> done(static_cast<std::size_t>(count), false);
  std::size_t printed = 0;
  std::mutex mutex;
  FitOptions quiet = options;
  quiet.report_stop = false;
  if (keyboard.key_waiting()) keyboard.read_key();  // a key pressed before the starts is discarded
  SharedKeyboard shared(keyboard);

  auto finish = [&](int i) {
    // Lines go out in start order, each as soon as every earlier start is done.
    done[static_cast<std::size_t>(i)] = true;
    lines[static_cast<std::size_t>(i)] = start_line(run.starts[static_cast<std::size_t>(i)], i, count);
    while (printed < done.size() && done[printed]) {
      std::fputs(lines[printed].c_str(), console);
      ++printed;
    }
    std::fflush(console);
  };

  run_fits(count, m.threads, shared, [&](int i) {
    Model fit = m;
    fit.threads = 1;
    perturb_profiles(fit, seed, i);
    std::vector<double> start_p = fit.p;
    StartResult result;
    result.ran = true;
    result.outcome = run_fit(fit, shared, quiet, nullptr);
    result.chi2 = fit.chi2;
    result.nytot = fit.nytot;
    if (has_result(result)) result.x = fit.x;
    std::lock_guard<std::mutex> lock(mutex);
    StartResult& slot = run.starts[static_cast<std::size_t>(i)];
    slot = std::move(result);
    if (has_result(slot)) {
      const bool better = run.best < 0 || slot.chi2 < run.starts[static_cast<std::size_t>(run.best)].chi2 ||
                          (slot.chi2 == run.starts[static_cast<std::size_t>(run.best)].chi2 && i < run.best);
      if (better) {
        run.best = i;
        run.best_model = std::move(fit);
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
    line = format_line("Best start: %d of %d (chi2 %lg, chi2/ny %lg); ", run.best + 1, count, best.chi2,
                       best.chi2 / best.nytot);
  } else {
    line = "No start has a result; ";
  }
  line += format_line("%d fitted, %d failed, %d not run.\n", count - failed - not_run, failed, not_run);
  return line;
}

TextTable starts_table(const Model& m, const StartsRun& run) {
  TextTable table;
  table.headings = {"start", "passes", "stop reason", "chi2", "chi2/ny"};
  for (const std::string& name : m.faktnavn) table.headings.push_back("r " + name);
  const StartResult* best = run.best >= 0 ? &run.starts[static_cast<std::size_t>(run.best)] : nullptr;
  for (std::size_t i = 0; i < run.starts.size(); ++i) {
    const StartResult& start = run.starts[i];
    const std::string stop =
        !start.ran ? "not run" : start.outcome.failed ? "failed" : stop_cause(start.outcome.reason);
    std::vector<std::string> row = {std::to_string(i + 1), std::to_string(start.ran ? start.outcome.passes : 0), stop};
    if (!has_result(start)) {
      // No chi2, no chi2/ny and no correlations: empty cells.
      row.resize(row.size() + 2 + static_cast<std::size_t>(m.nfakt));
      table.rows.push_back(std::move(row));
      continue;
    }
    row.push_back(number_cell(start.chi2));
    row.push_back(number_cell(start.chi2 / start.nytot));
    const std::vector<FactorMatch> matches = best_matches({best->x.data(), m.nrec, m.nfakt},
                                                          {start.x.data(), m.nrec, m.nfakt});
    for (const FactorMatch& match : matches) row.push_back(number_cell(match.r));
    table.rows.push_back(std::move(row));
  }
  return table;
}

TextTable profile_table(const Model& m, const std::vector<double>& p) {
  TextTable table;
  table.headings = {""};  // the heading of the column of variable names is empty
  table.headings.insert(table.headings.end(), m.faktnavn.begin(), m.faktnavn.end());
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  for (std::size_t v = 0; v < m.varnavn.size(); ++v) {
    std::vector<std::string> row = {m.varnavn[v]};
    for (std::size_t f = 0; f < nfakt; ++f) {
      char buf[40];
      const auto result = std::to_chars(buf, buf + sizeof buf, p[v * nfakt + f]);  // shortest exact text
      row.emplace_back(buf, result.ptr);
    }
    table.rows.push_back(std::move(row));
  }
  return table;
}
