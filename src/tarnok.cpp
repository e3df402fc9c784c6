// tarnok: fits a constrained factor model to a table of measurements and writes
// one tab-separated result table. The run driver: arguments, echo, then the phases
// in order; every failure ends here with its message and exit status 1.
#include <cmath>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "control/failure.h"
#include "control/model.h"
#include "control/options.h"
#include "ensemble/bootstrap.h"
#include "ensemble/starts.h"
#include "fit/iteration.h"
#include "fit/residue.h"
#include "input/data_file.h"
#include "input/form_file.h"
#include "input/profile_file.h"
#include "output/report_folder.h"
#include "output/result_file.h"
#include "output/run_record.h"
#include "output/same_file.h"
#include "output/whole_file.h"
#include "platform/keyboard.h"
#include "platform/program.h"
#include "platform/signals.h"
#include "prepare/prepare.h"
#include "robust/summary.h"
#include "stats/diagnostics.h"
#include "stats/regression.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int run(int argc, char** argv) {
  Options options = parse_options(argc, argv);
  if (options.help) {
    std::fputs(usage_text(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("tarnok %s\n", TARNOK_VERSION);
    return 0;
  }
  RunTimes times;
  times.start_utc = utc_now();
  const std::vector<std::string>& args = options.args;
  if (args.size() != 5 && args.size() != 6) fail("Wrong number of arguments (O/N profile form data result [rotate])\n");

  Model m;
  switch (args[0].empty() ? '\0' : args[0][0]) {
    case 'n':
    case 'N':
      m.offset = 0;
      break;
    case 'o':
    case 'O':
      m.offset = 1;
      break;
    default:
      fail("Wrong argument! Not %s, but N(ormal) or O(ffset).\n", args[0].c_str());
  }
  m.damp = 10;
  m.alpha = options.robust;
  const long cores = static_cast<long>(std::thread::hardware_concurrency());
  m.threads = static_cast<int>(std::min(options.threads > 0 ? options.threads : std::max(cores, 1L), 256L));

  std::printf("\n\n\n");
  for (const std::string& arg : args) std::printf("%s\n", arg.c_str());
  std::printf("\nChi2/ny\tny\n\n");
  std::fflush(stdout);
  install_signal_handlers();

  const char* rotate_arg = args.size() == 6 ? args[5].c_str() : nullptr;
  m.rotate = rotate_arg != nullptr ? static_cast<float>(std::atof(rotate_arg)) : 0.0f;
  if (!std::isfinite(m.rotate)) fail("Error: rotate %s is not a finite number!\n", rotate_arg);
  const auto reading = std::chrono::steady_clock::now();
  read_profile(m, args[1]);
  read_form(m, args[2]);
  read_data(m, args[3]);
  times.read_seconds = seconds_since(reading);
  if (options.timing) std::fprintf(stderr, "timing\tparse\t%.6f\n", times.read_seconds);
  refuse_input_as_result(args[4], {args[1], args[2], args[3]});
  if (!options.report.empty()) {
    if (!options.total.empty() && find_variable(m, options.total) < 0) {
      fail("Error: --total %s is not a variable of %s!\n", options.total.c_str(), args[1].c_str());
    }
    std::vector<std::string> report_names;
    if (options.starts > 0) report_names.insert(report_names.end(), {"starts.tsv", "best_start_profile.tsv"});
    if (options.bootstrap > 0) report_names.insert(report_names.end(), {"bootstrap.tsv", "bootstrap_mapping.tsv"});
    prepare_report_folder(options.report, report_names, {args[1], args[2], args[3], args[4]});
  }
  ResultFile result(args[4]);

  FitOptions fit_options;
  fit_options.passes = options.passes;
  fit_options.converge = options.converge;
  fit_options.keep_best = options.keep_best;
  fit_options.report_stop = options.converge > 0 || options.keep_best || options.robust > 0;
  // A run that ends by itself ignores standard input that is not a terminal.
  const bool unattended = options.passes >= 0 || options.converge > 0;
  const bool no_terminal = !stdin_is_terminal();
  std::unique_ptr<Keyboard> keyboard;
  if (unattended && no_terminal) {
    keyboard = std::make_unique<NoKeyboard>();
  } else {
    keyboard = console_keyboard();
  }
  enter_fit_phase();
  const auto fitting = std::chrono::steady_clock::now();
  FitOutcome outcome;
  StartsRun starts;
  if (options.starts > 0) {
    starts = run_starts(m, *keyboard, fit_options, static_cast<int>(options.starts),
                        static_cast<std::uint64_t>(options.seed), stdout);
    std::fputs(best_start_line(starts).c_str(), stdout);
    std::fflush(stdout);
    if (starts.best < 0) fail("Error: No start has a result; no result was written.\n");
    outcome = starts.starts[static_cast<std::size_t>(starts.best)].outcome;
    const int threads = m.threads;
    std::swap(m, starts.best_model);
    m.threads = threads;  // each start ran on one; the rest of the run uses them all
  } else {
    outcome = run_fit(m, *keyboard, fit_options, stdout);
  }
  if (options.bootstrap == 0) keyboard.reset();
  fail_without_result(outcome);
  if (!unattended && no_terminal && outcome.reason == StopReason::key) {
    std::fprintf(stderr,
                 "tarnok: the fit stopped after %ld pass%s because standard input is not a terminal: the end of "
                 "input, like a waiting byte, counts as a key press. To run a fit unattended, give --passes N or "
                 "--converge TOL (see tarnok --help).\n",
                 outcome.passes, outcome.passes == 1 ? "" : "es");
  }
  if (m.alpha > 0) {
    std::fputs(robust_line(summarize_robust(m)).c_str(), stdout);
    std::fflush(stdout);
  }
  times.fit_seconds = seconds_since(fitting);
  if (options.timing) {
    for (double pass : outcome.pass_seconds) std::fprintf(stderr, "timing\tpass\t%.6f\n", pass);
    std::fprintf(stderr, "timing\tfit\t%.6f\n", seconds_since(fitting));
  }

  const auto writing = std::chrono::steady_clock::now();
  residue(m);
  const RegressionTable regression = regression_table(m);
  write_result(m, result.stream(), rotate_arg, regression);
  result.commit();
  times.output_seconds = seconds_since(writing);
  if (options.timing) std::fprintf(stderr, "timing\toutput\t%.6f\n", times.output_seconds);
  if (options.starts > 0 && !options.report.empty()) {
    write_whole_file(report_path(options.report, "starts.tsv"), starts_table(m, starts));
    write_whole_file(report_path(options.report, "best_start_profile.tsv"), profile_text(m, starts.best_p));
  }
  if (options.bootstrap > 0) {
    BootstrapSettings settings;
    settings.replicates = static_cast<int>(options.bootstrap);
    settings.block = static_cast<int>(std::min(options.block, static_cast<long>(m.nrec)));
    settings.seed = static_cast<std::uint64_t>(options.seed);
    settings.min_r = options.min_r;
    settings.threads = m.threads;
    const BootstrapRun bootstrap = run_bootstrap(m, *keyboard, fit_options, settings);
    keyboard.reset();
    std::fputs(bootstrap_summary(m, bootstrap).c_str(), stdout);
    std::fflush(stdout);
    write_whole_file(report_path(options.report, "bootstrap.tsv"), bootstrap_table(m, bootstrap));
    write_whole_file(report_path(options.report, "bootstrap_mapping.tsv"), mapping_table(m, bootstrap));
  }
  if (!options.report.empty()) {
    const auto reporting = std::chrono::steady_clock::now();
    write_report_folder(options.report, m, regression, std::vector<std::string>(argv, argv + argc), options, outcome,
                        times);
    if (options.timing) std::fprintf(stderr, "timing\treport\t%.6f\n", seconds_since(reporting));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  prepare_standard_streams();
  try {
    std::vector<std::string> arguments = program_arguments(argc, argv);
    std::vector<char*> utf8_argv;
    for (std::string& argument : arguments) utf8_argv.push_back(argument.data());
    utf8_argv.push_back(nullptr);
    const int count = static_cast<int>(arguments.size());
    // A first argument that names a subcommand runs it; anything else is the fit's
    // own command line, exactly as always (a mode starts with n, N, o or O).
    if (count >= 2 && arguments[1] == "prepare") return run_prepare(count - 1, utf8_argv.data() + 1, utf8_argv[0]);
    return run(count, utf8_argv.data());
  } catch (const Failure& failure) {
    std::fputs(failure.what(), stdout);
    std::fflush(stdout);
    return 1;
  } catch (const std::bad_alloc&) {
    // Tables beyond the memory of the machine; the temporary result file is gone
    // with the unwinding of run().
    std::fputs("Error: Out of memory! Reduce the number of records, variables or factors.\n", stdout);
    std::fflush(stdout);
    return 1;
  } catch (const std::exception& error) {
    std::printf("Error: %s!\n", error.what());
    std::fflush(stdout);
    return 1;
  }
}
