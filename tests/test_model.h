// A problem, the settings of its fits and one fit's state in one object, as the
// tests build them, and the program's functions taking it whole: a test sets the
// fields by their domain names (m.nfakt, m.usik, m.p, m.threads) and calls
// contribution_pass(m) where the program passes the three parts.
#pragma once

#include <cstdio>
#include <optional>

#include "app/console_observer.h"
#include "engine/engine.h"
#include "fit/fit_monitor.h"
#include "fit/iteration.h"
#include "fit/residue.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"
#include "platform/keyboard.h"
#include "reference/reference.h"
#include "robust/summary.h"
#include "robust/weights.h"
#include "ensemble/blocks.h"
#include "ensemble/bootstrap.h"
#include "ensemble/starts.h"
#include "output/diagnostic_tables.h"
#include "output/result_file.h"
#include "stats/diagnostics.h"
#include "stats/regression.h"

struct TestModel : Problem, FitSettings, FitState {
  double alpha = 0.0;  ///< robust mode's threshold; 0: off

  // Makes the profiles p the problem's starting profiles, so that a fit the
  // program sets up from the problem (starts, replicates) starts from them.
  void start_from_p() { starting_p = p; }

  // The uncertainties the fit weighs with.
  const std::vector<float>& fit_usik() const { return weighing_usik(*this, *this); }
};

// The stop rules and console of a test's fit.
struct FitOptions {
  long passes = -1;
  double converge = 0.0;
  bool keep_best = false;
  bool report_stop = false;  ///< print the closing line on every stop
};

inline void contribution_step(TestModel& m, int s) { ::contribution_step(m, m, m, s); }
inline void contribution_pass(TestModel& m) { ::contribution_pass(m, m, m); }
inline void profile_step(TestModel& m, int v) { ::profile_step(m, m, m, v); }
inline void profile_pass(TestModel& m) { ::profile_pass(m, m, m); }
inline double regression(TestModel& m, int v, double* coef, double* se) { return ::regression(m, m, v, coef, se); }
inline void regressions(TestModel& m, double* chi, double* coef, double* se) {
  ::regressions(m, m, m.threads, chi, coef, se);
}
inline RegressionTable regression_table(TestModel& m) { return regression_table(m, m, m.threads); }
inline void residue(TestModel& m) { residue(m, m); }
inline void start_robust(TestModel& m) { start_robust(m, m, m.alpha); }
inline void refresh_robust(TestModel& m) { refresh_robust(m, m, m.alpha); }
inline RobustSummary summarize_robust(const TestModel& m) { return summarize_robust(m, m, m.alpha); }
inline Diagnostics diagnose(const TestModel& m, const RegressionTable& regression) { return diagnose(m, m, regression); }
inline Apportionment apportion(const TestModel& m, int v) { return apportion(m, m, v); }
inline void write_result(const TestModel& m, std::FILE* out, const char* rotate_arg) { write_result(m, m, out, rotate_arg); }
inline void write_result(const TestModel& m, std::FILE* out, const char* rotate_arg, const RegressionTable& regression) {
  write_result(m, m, out, rotate_arg, regression);
}
inline TextTable variables_table(const TestModel& m, const Diagnostics& d, const RegressionTable& regression) {
  return variables_table(m, m, d, regression, m.alpha);
}
inline TextTable records_table(const TestModel& m, const Diagnostics& d) { return records_table(m, m, d, m.alpha); }
inline int automatic_block_length(const TestModel& m) { return automatic_block_length(m, m); }
inline void save_state(const TestModel& m, long pass, PassState* state) { save_state(static_cast<const FitState&>(m), pass, state); }

namespace reference {
inline void contribution_step(TestModel& m, int s) { reference::contribution_step(m, m, m, s); }
inline void contribution_pass(TestModel& m) { reference::contribution_pass(m, m, m); }
inline void profile_step(TestModel& m, int v) { reference::profile_step(m, m, m, v); }
inline void profile_pass(TestModel& m) { reference::profile_pass(m, m, m); }
inline double regression(TestModel& m, int v, double* coef, double* se) { return reference::regression(m, m, v, coef, se); }
inline void regressions(TestModel& m, double* chi, double* coef, double* se) {
  reference::regressions(m, m, m.threads, chi, coef, se);
}
}  // namespace reference

// The fit of m with the stop rules of `options`, keys from `keyboard` and the
// statistics lines (and the closing line) on `console` (null: none), as the fit
// command runs it; robust when m.alpha > 0.
inline FitSettings settings_of(const TestModel& m, const FitOptions& options, std::optional<RobustWeighting>* robust);

inline FitOutcome run_fit(TestModel& m, Keyboard& keyboard, const FitOptions& options, std::FILE* console) {
  // A model the readers filled has no fit tables yet: they are made from the
  // problem, as the fit command makes them.
  if (!m.fits(m)) static_cast<FitState&>(m) = FitState::sized_for(m);
  std::optional<RobustWeighting> robust;
  const FitSettings settings = settings_of(m, options, &robust);
  ConsoleObserver observer(keyboard, console, options.report_stop);
  return run_fit(m, settings, m, observer);
}

// The settings of m with the stop rules of `options`; robust when m.alpha > 0
// (the rule lives in *robust).
inline FitSettings settings_of(const TestModel& m, const FitOptions& options, std::optional<RobustWeighting>* robust) {
  FitSettings settings = m;
  settings.passes = options.passes;
  settings.converge = options.converge;
  settings.keep_best = options.keep_best;
  if (m.alpha > 0) robust->emplace(m.alpha);
  settings.reweighting = robust->has_value() ? &**robust : nullptr;
  return settings;
}

// The bootstrap of the fitted m, as the fit command runs it.
inline BootstrapRun run_bootstrap(const TestModel& m, Keyboard& keyboard, const FitOptions& options,
                                  const BootstrapSettings& settings) {
  std::optional<RobustWeighting> robust;
  ConsoleObserver observer(keyboard, nullptr, false);
  return run_bootstrap(m, m, settings_of(m, options, &robust), observer, settings);
}

// The starts of m from its profiles p, their lines on `console`.
inline StartsRun run_starts(const TestModel& m, Keyboard& keyboard, const FitOptions& options, int count,
                            std::uint64_t seed, std::FILE* console) {
  std::optional<RobustWeighting> robust;
  ConsoleObserver observer(keyboard, nullptr, false);
  Problem problem = m;
  problem.starting_p = m.p;
  return run_starts(problem, settings_of(m, options, &robust), observer, count, seed,
                    [console](const std::string& line) { std::fputs(line.c_str(), console); });
}

inline void perturb_profiles(TestModel& m, std::uint64_t seed, int start) { perturb_profiles(m.p, m.fp, seed, start); }
