// The fit command as named phases, in the order they run: plan from the options,
// echo, read the problem, check the outputs, fit (once or from several starts),
// write the result table, bootstrap, report.
#include "app/fit_command.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "report_folder/report_folder.h"
#include "control/factor_names.h"
#include "control/failure.h"
#include "control/options.h"
#include "displacement/bootstrap_displacement.h"
#include "displacement/displacement.h"
#include "displacement/hold.h"
#include "ensemble/bootstrap.h"
#include "ensemble/fresh_starts.h"
#include "ensemble/stability.h"
#include "ensemble/starts.h"
#include "fit/iteration.h"
#include "fit/problem_checks.h"
#include "fit/stop_line.h"
#include "fit/residue.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "formats/whole_file.h"
#include "output/result_file.h"
#include "output/run_record.h"
#include "output/same_file.h"
#include "platform/keyboard.h"
#include "platform/program.h"
#include "platform/signals.h"
#include "robust/summary.h"
#include "robust/weights.h"
#include "stats/diagnostics.h"
#include "stats/regression.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What the command line asks for, checked before any file is opened.
struct FitPlan {
  Options options;
  std::vector<std::string> command_line;  ///< every argument, the program's name first (for the run record)
  int offset = 0;                         ///< from the mode argument
  std::optional<std::string> rotate;      ///< the rotate argument as typed
  std::string profile, form, data, result;
  FitSettings settings;
  bool unattended = false;  ///< the fit ends by itself (--passes or --converge)
  std::vector<double> disp_levels;  ///< with --disp: the dQmax levels
  std::vector<double> bs_disp_levels;  ///< with --bs-disp: the dQmax levels
};

// The fixed line, and a second one that says what was given instead (an option
// after the first positional argument is taken as a positional one).
[[noreturn]] void fail_argument_count(const std::vector<std::string>& args) {
  constexpr std::size_t kShown = 8;
  std::string seen;
  for (std::size_t k = 0; k < args.size() && k < kShown; ++k) seen += " '" + quote_cell(args[k]) + "'";
  if (args.size() > kShown) seen += " ...";
  fail("Wrong number of arguments (O/N profile form data result [rotate])\n"
       "%zu argument%s after the options, where 5 or 6 are needed%s%s\n",
       args.size(), args.size() == 1 ? "" : "s", args.empty() ? "" : ":", seen.c_str());
}

FitPlan plan_from_options(int argc, char** argv) {
  FitPlan plan;
  plan.options = parse_options(argc, argv);
  plan.command_line.assign(argv, argv + argc);
  const Options& options = plan.options;
  if (options.help || options.version) return plan;
  const std::vector<std::string>& args = options.args;
  if (args.size() != 5 && args.size() != 6) fail_argument_count(args);
  switch (args[0].empty() ? '\0' : args[0][0]) {
    case 'n':
    case 'N':
      plan.offset = 0;
      break;
    case 'o':
    case 'O':
      plan.offset = 1;
      break;
    default:
      fail("Wrong argument! Not %s, but N(ormal) or O(ffset).\n", args[0].c_str());
  }
  plan.profile = args[1];
  plan.form = args[2];
  plan.data = args[3];
  plan.result = args[4];
  if (args.size() == 6) plan.rotate = args[5];
  plan.settings.threads = thread_count(options.threads);
  plan.settings.passes = options.passes;
  plan.settings.converge = options.converge;
  plan.settings.keep_best = options.keep_best;
  plan.settings.accelerate = options.accelerate;
  plan.unattended = options.passes >= 0 || options.converge > 0;
  if (!options.disp_levels.empty() && !options.disp) fail("Error: --disp-levels needs --disp!\n");
  if (options.disp) plan.disp_levels = options.disp_levels.empty() ? DisplacementSettings().levels
                                                                     : parse_levels(options.disp_levels);
  if (!options.bs_disp_levels.empty() && options.bs_disp == 0) fail("Error: --bs-disp-levels needs --bs-disp!\n");
  if (options.bs_disp > 0) {
    plan.bs_disp_levels = options.bs_disp_levels.empty() ? BootstrapDisplacementSettings().levels
                                                         : parse_bootstrap_levels(options.bs_disp_levels);
  }
  return plan;
}

void echo_arguments(const FitPlan& plan) {
  std::printf("\n\n\n");
  for (const std::string& arg : plan.options.args) std::printf("%s\n", arg.c_str());
  std::printf("\nChi2/ny\tny\n\n");
  std::fflush(stdout);
}

// The rotate strength, read as the first number of its text (0 for none).
float parse_rotate(const FitPlan& plan) {
  const float rotate = plan.rotate ? static_cast<float>(std::atof(plan.rotate->c_str())) : 0.0f;
  if (!std::isfinite(rotate)) fail("Error: rotate %s is not a finite number!\n", plan.rotate->c_str());
  return rotate;
}

Problem read_problem(const FitPlan& plan) {
  Problem problem;
  problem.offset = plan.offset;
  read_profile(problem, plan.profile);
  read_form(problem, plan.form);
  read_data(problem, plan.data);
  if (!plan.options.names.empty()) problem.faktnavn = factor_names(plan.options.names, problem.nfakt);
  return problem;
}

// With --hold: the problem whose form holds those elements, and the holds in the
// fit's settings.
Problem hold_elements(Problem problem, FitPlan& plan) {
  plan.settings.holds = parse_holds(problem, plan.options.hold);
  return plan.settings.holds.empty() ? problem : holding(problem, plan.settings.holds);
}

// Before the fit: no output may replace an input, a bootstrap block fits in the
// records, and every file of the report folder must be writable.
std::optional<ReportFolder> check_outputs(const FitPlan& plan, const Problem& problem) {
  const Options& options = plan.options;
  refuse_input_as_result(plan.result, {plan.profile, plan.form, plan.data});
  refuse_block_above_records(options.block, problem, plan.data);
  if (options.report.empty()) return std::nullopt;
  if (!options.total.empty() && find_variable(problem, options.total) < 0) {
    fail("Error: --total %s is not a variable of %s!\n", options.total.c_str(), plan.profile.c_str());
  }
  return std::optional<ReportFolder>(std::in_place, options.report, problem, options,
                                     std::vector<std::string>{plan.profile, plan.form, plan.data}, plan.result);
}

// The keyboard of the run: a run that ends by itself ignores standard input that
// is not a terminal.
std::unique_ptr<Keyboard> open_keyboard(const FitPlan& plan) {
  if (plan.unattended && !stdin_is_terminal()) return std::make_unique<NoKeyboard>();
  return console_keyboard();
}

struct FitRun {
  FitState state;      ///< the state the result table is written from
  FitOutcome outcome;  ///< how its fit ended
  StartsRun starts;    ///< with --starts: every start
};

FitRun fit_starts(const Problem& problem, const FitPlan& plan, ConsoleObserver& observer) {
  FitRun run;
  auto print = [](const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
  };
  const Options& options = plan.options;
  if (options.fresh_starts > 0) {
    run.starts = run_starts(problem, plan.settings, observer, static_cast<int>(options.fresh_starts),
                            fresh_starts(problem, options.seed), print);
  } else {
    run.starts = run_starts(problem, plan.settings, observer, static_cast<int>(options.starts), options.seed, print);
  }
  print(best_start_line(run.starts));
  if (run.starts.best < 0) fail("Error: No start has a result; no result was written.\n");
  if (options.fresh_starts > 0) {
    // Fresh starts are run to see whether the data hold more than one answer.
    const int total = options.total.empty() ? -1 : find_variable(problem, options.total);
    print(stability_line(problem, assess_stability(problem, run.starts, total), options.total));
  }
  run.outcome = run.starts.starts[static_cast<std::size_t>(run.starts.best)].outcome;
  run.state = std::move(run.starts.best_state);
  return run;
}

// A fit that a key stopped, where the key was standard input that is not a terminal.
void explain_stop_without_terminal(const FitPlan& plan, const FitOutcome& outcome) {
  if (plan.unattended || stdin_is_terminal() || outcome.reason != StopReason::key) return;
  std::fprintf(stderr,
               "tarnok: the fit stopped after %ld pass%s because standard input is not a terminal: the end of "
               "input, like a waiting byte, counts as a key press. To run a fit unattended, give --passes N or "
               "--converge TOL (see tarnok --help).\n",
               outcome.passes, outcome.passes == 1 ? "" : "es");
}

RegressionTable write_result_table(const FitPlan& plan, const Problem& problem, FitState& state, ResultFile& result) {
  residue(problem, state);
  const RegressionTable regression = regression_table(problem, state, plan.settings.threads);
  write_result(problem, state, result.stream(), plan.rotate ? plan.rotate->c_str() : nullptr, regression);
  result.commit();
  return regression;
}

void bootstrap(const FitPlan& plan, const Problem& problem, const FitState& state, ConsoleObserver& observer,
               ReportFolder& report) {
  const Options& options = plan.options;
  BootstrapSettings settings;
  settings.replicates = static_cast<int>(options.bootstrap);
  settings.block = static_cast<int>(options.block);  // at most nrec, checked before the fit
  settings.seed = options.seed;
  settings.min_r = options.min_r;
  settings.threads = plan.settings.threads;
  // The shares of the total over the replicates, for the apportionment's intervals.
  if (options.disp && !options.total.empty()) settings.total = find_variable(problem, options.total);
  const BootstrapRun run = run_bootstrap(problem, state, plan.settings, observer, settings);
  std::fputs(bootstrap_summary(problem, run).c_str(), stdout);
  std::fflush(stdout);
  report.write_bootstrap(problem, state, run);
}

// Displacement of the fit written: the intervals of every free element, on the
// console in short and in full in the report folder. Progress on standard error
// when that is a terminal.
void displacement(const FitPlan& plan, const Problem& problem, const FitState& state, ConsoleObserver& observer,
                  ReportFolder& report) {
  const Options& options = plan.options;
  DisplacementSettings settings;
  settings.levels = plan.disp_levels;
  settings.threads = plan.settings.threads;
  settings.total = options.total.empty() ? -1 : find_variable(problem, options.total);
  const auto started = std::chrono::steady_clock::now();
  if (stderr_is_terminal()) {
    settings.progress = [started](int done, int count) {
      const double elapsed = seconds_since(started);
      const double left = elapsed / done * (count - done);
      std::fprintf(stderr, "\rDisplacement: %d/%d searches, %.0f s elapsed, about %.0f s left ", done, count,
                   elapsed, left);
      if (done == count) std::fputc('\n', stderr);
      std::fflush(stderr);
    };
  }
  const DisplacementRun run = run_displacement(problem, state, plan.settings, observer, settings);
  std::fputs(displacement_summary(run).c_str(), stdout);
  std::fflush(stdout);
  if (options.timing) {
    std::fprintf(stderr, "timing\tdisplacement\t%ld\t%ld\t%.6f\n", run.fits, run.passes, seconds_since(started));
  }
  report.write_displacement(problem, state, run);
}

// Displacement within bootstrap replicates: the interval of every free element
// over the replicates, on the console in short and in full in the report folder.
// Progress on standard error when that is a terminal.
void bootstrap_displacement(const FitPlan& plan, const Problem& problem, const FitState& state,
                            ConsoleObserver& observer, ReportFolder& report) {
  const Options& options = plan.options;
  BootstrapDisplacementSettings settings;
  settings.replicates = static_cast<int>(options.bs_disp);
  settings.block = static_cast<int>(options.block);  // at most nrec, checked before the fit
  settings.seed = options.seed;
  settings.min_r = options.min_r;
  settings.levels = plan.bs_disp_levels;
  settings.threads = plan.settings.threads;
  const auto started = std::chrono::steady_clock::now();
  if (stderr_is_terminal()) {
    settings.progress = [started](long done, long count) {
      const double elapsed = seconds_since(started);
      const double left = elapsed / static_cast<double>(done) * static_cast<double>(count - done);
      std::fprintf(stderr, "\rBootstrap displacement: %ld/%ld searches, %.0f s elapsed, about %.0f s left ", done,
                   count, elapsed, left);
      if (done == count) std::fputc('\n', stderr);
      std::fflush(stderr);
    };
  }
  const BootstrapDisplacementRun run = run_bootstrap_displacement(problem, state, plan.settings, observer, settings);
  std::fputs(bootstrap_displacement_summary(run).c_str(), stdout);
  std::fflush(stdout);
  report.write_bootstrap_displacement(problem, run);
}

// The fit, once or from several starts: the state the result table is written
// from, and how its fit ended.
FitRun fit(const Problem& problem, const FitPlan& plan, ConsoleObserver& observer, FitState unfitted) {
  if (plan.options.starts > 0 || plan.options.fresh_starts > 0) return fit_starts(problem, plan, observer);
  FitRun run{std::move(unfitted), {}, {}};
  run.outcome = run_fit(problem, plan.settings, run.state, observer);
  return run;
}

// After the fit: a fit without a result ends the run; a stop by input that is not
// a terminal is explained; a robust fit says what it down-weighted.
void close_fit(const FitPlan& plan, const Problem& problem, const FitRun& run, const RobustWeighting* robust) {
  fail_without_result(run.outcome);
  explain_stop_without_terminal(plan, run.outcome);
  if (robust == nullptr) return;
  std::fputs(robust_line(summarize_robust(problem, run.state, robust->alpha())).c_str(), stdout);
  std::fflush(stdout);
}

int print_help_or_version(const Options& options) {
  if (options.help) {
    std::fputs(usage_text(), stdout);
  } else {
    std::printf("tarnok %s\n", TARNOK_VERSION);
  }
  return 0;
}

// With --timing: the time of every pass, a pass that started from extrapolated
// profiles marked so (its time includes the tried contribution step), and with
// --accelerate the count of extrapolations accepted and tried.
void print_pass_times(const FitOutcome& outcome) {
  std::size_t next = 0;  // the next pass in outcome.extrapolated, which is in pass order
  for (std::size_t k = 0; k < outcome.pass_seconds.size(); ++k) {
    const bool pushed = next < outcome.extrapolated.size() && outcome.extrapolated[next] == static_cast<long>(k) + 1;
    if (pushed) ++next;
    std::fprintf(stderr, "timing\tpass\t%.6f%s\n", outcome.pass_seconds[k], pushed ? "\textrapolated" : "");
  }
  if (outcome.extrapolations_tried > 0) {
    std::fprintf(stderr, "timing\textrapolations\t%zu\t%ld\n", outcome.extrapolated.size(), outcome.extrapolations_tried);
  }
}

// The seconds since `start`; with --timing also printed on standard error as the
// time of `phase`.
double phase_time(const Options& options, const char* phase, std::chrono::steady_clock::time_point start) {
  const double seconds = seconds_since(start);
  if (options.timing) std::fprintf(stderr, "timing\t%s\t%.6f\n", phase, seconds);
  return seconds;
}

}  // namespace

int run_fit_command(int argc, char** argv) {
  FitPlan plan = plan_from_options(argc, argv);
  const Options& options = plan.options;
  if (options.help || options.version) return print_help_or_version(options);
  RunTimes times;
  times.start_utc = utc_now();
  echo_arguments(plan);
  install_signal_handlers();
  plan.settings.rotate = parse_rotate(plan);
  const std::optional<RobustWeighting> robust =
      options.robust > 0 ? std::optional<RobustWeighting>(options.robust) : std::nullopt;
  if (robust) plan.settings.reweighting = &*robust;

  const auto reading = std::chrono::steady_clock::now();
  const Problem problem = hold_elements(read_problem(plan), plan);
  refuse_fewer_records_than_factors(problem, plan.data);
  std::fputs(unmeasured_records_warning(problem, plan.data).c_str(), stderr);
  FitState unfitted = allocate_state(problem);
  times.read_seconds = phase_time(options, "parse", reading);
  std::optional<ReportFolder> report = check_outputs(plan, problem);
  ResultFile result(plan.result);

  std::unique_ptr<Keyboard> keyboard = open_keyboard(plan);
  ConsoleObserver observer(*keyboard, stdout, options.converge > 0 || options.keep_best || options.robust > 0);
  observer.set_closing_note(holds_text(problem, plan.settings.holds));
  enter_fit_phase();
  const auto fitting = std::chrono::steady_clock::now();
  FitRun run = fit(problem, plan, observer, std::move(unfitted));
  if (options.bootstrap == 0 && !options.disp && options.bs_disp == 0) keyboard.reset();
  close_fit(plan, problem, run, robust ? &*robust : nullptr);
  if (options.timing) print_pass_times(run.outcome);
  times.fit_seconds = phase_time(options, "fit", fitting);

  const auto writing = std::chrono::steady_clock::now();
  const RegressionTable regression = write_result_table(plan, problem, run.state, result);
  times.output_seconds = phase_time(options, "output", writing);
  if ((options.starts > 0 || options.fresh_starts > 0) && report) {
    report->write_starts(problem, run.starts, options.total);
  }
  if (options.bootstrap > 0) {
    bootstrap(plan, problem, run.state, observer, *report);  // --bootstrap needs --report
  }
  if (options.disp) displacement(plan, problem, run.state, observer, *report);  // --disp needs --report
  if (options.bs_disp > 0) bootstrap_displacement(plan, problem, run.state, observer, *report);  // needs --report
  keyboard.reset();
  if (report) {
    const auto reporting = std::chrono::steady_clock::now();
    report->write_report(problem, run.state, plan.settings, regression, plan.command_line, options, run.outcome,
                         times);
    report->commit();
    phase_time(options, "report", reporting);
  }
  return 0;
}
