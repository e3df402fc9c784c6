#include "python_fit.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "control/factor_names.h"
#include "control/failure.h"
#include "control/options.h"
#include "control/text_format.h"
#include "displacement/apportionment.h"
#include "displacement/hold.h"
#include "ensemble/fresh_starts.h"
#include "ensemble/stability.h"
#include "fit/iteration.h"
#include "fit/problem_checks.h"
#include "fit/residue.h"
#include "fit/stop_line.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "formats/whole_file.h"
#include "output/result_file.h"
#include "output/run_record.h"
#include "output/same_file.h"
#include "platform/program.h"
#include "report_folder/report_folder.h"
#include "stats/diagnostics.h"

namespace py = pybind11;

namespace {

// The fit's observer from Python: no keyboard, no console; it stops the fit once
// the waiting thread has seen an interrupt.
class InterruptObserver : public FitObserver {
 public:
  explicit InterruptObserver(const std::atomic<bool>& stop) : stop_(stop) {}
  bool interrupted() override { return stop_.load(); }

 private:
  const std::atomic<bool>& stop_;
};

constexpr auto kSignalPoll = std::chrono::milliseconds(100);

// Fails as the console's parser fails on the command line of `options`.
void check_options(const Options& options) {
  const std::vector<std::string> argv = console_command_line(options);
  std::vector<const char*> args;
  for (const std::string& arg : argv) args.push_back(arg.c_str());
  parse_options(static_cast<int>(args.size()), args.data());
}

}  // namespace

void run_interruptible(const std::function<void(FitObserver&)>& work) {
  std::atomic<bool> stop{false};
  std::exception_ptr failure;
  std::optional<py::error_already_set> interrupt;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  {
    py::gil_scoped_release release;
    std::thread worker([&] {
      InterruptObserver observer(stop);
      try {
        work(observer);
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(mutex);
      done = true;
      finished.notify_all();
    });
    std::unique_lock<std::mutex> lock(mutex);
    while (!done) {
      if (finished.wait_for(lock, kSignalPoll, [&] { return done; })) break;
      if (interrupt) continue;
      lock.unlock();
      {
        py::gil_scoped_acquire acquire;
        // Signals are handled on the main thread only; elsewhere this returns 0.
        if (PyErr_CheckSignals() != 0) {
          interrupt.emplace();
          stop = true;
        }
      }
      lock.lock();
    }
    lock.unlock();
    worker.join();
  }
  if (interrupt) throw std::move(*interrupt);
  if (failure) std::rethrow_exception(failure);
}

PythonProblem load_problem(const std::string& profile, const std::string& form, const std::string& data, bool offset) {
  auto problem = std::make_shared<Problem>();
  problem->offset = offset ? 1 : 0;
  read_profile(*problem, profile);
  read_form(*problem, form);
  read_data(*problem, data);
  return PythonProblem{std::move(problem), {profile, form, data}};
}

PythonProblem with_start(const PythonProblem& base, const std::vector<std::string>& faktnavn,
                         const std::vector<double>& p, const std::vector<int>& fp) {
  const Problem& from = *base.problem;
  const std::size_t cells = static_cast<std::size_t>(from.nvar) * faktnavn.size();
  if (faktnavn.empty() || p.size() != cells || fp.size() != cells) {
    fail("Error: the profiles and the form need one row per variable (%d) and one column per factor!\n", from.nvar);
  }
  auto problem = std::make_shared<Problem>(from);
  problem->nfakt = static_cast<int>(faktnavn.size());
  problem->faktnavn = faktnavn;
  problem->starting_p = p;
  problem->fp = fp;
  return PythonProblem{std::move(problem), {}};
}

std::string data_name(const PythonProblem& input) {
  return input.files.size() == 3 ? input.files[2] : std::string("the data");
}

namespace {

// The problem as the fit sees it: with the factors' names and the held elements
// asked for (a copy when either is), as the console reads it with --names and
// --hold; the holds go into `settings`.
PythonProblem fitted_problem(const PythonProblem& input, const FitRequest& request, FitSettings& settings) {
  if (request.names.empty() && request.hold.empty()) return input;
  Problem problem = *input.problem;
  if (!request.names.empty()) problem.faktnavn = factor_names(request.names, problem.nfakt);
  settings.holds = parse_holds(problem, request.hold);
  if (!settings.holds.empty()) problem = holding(problem, settings.holds);
  return PythonProblem{std::make_shared<const Problem>(std::move(problem)), input.files};
}

// Says the warning as a Python warning (UserWarning) at the caller of tarnok.fit.
void warn(const std::string& text) {
  if (text.empty()) return;
  if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 2) != 0) throw py::error_already_set();
}

}  // namespace

std::shared_ptr<PythonFit> fit_problem(const PythonProblem& input, const FitRequest& request) {
  check_options(console_options(input, request, "result.tsv"));
  auto fit = std::make_shared<PythonFit>();
  fit->request = request;
  FitSettings& settings = fit->settings;
  fit->input = fitted_problem(input, request, settings);
  const Problem& problem = *fit->input.problem;
  refuse_fewer_records_than_factors(problem, data_name(input));
  warn(unmeasured_records_warning(problem, data_name(input)));
  settings.threads = thread_count(request.threads);
  settings.passes = request.passes;
  settings.converge = request.converge;
  settings.keep_best = request.keep_best;
  settings.accelerate = request.accelerate;
  if (request.rotate) {
    settings.rotate = static_cast<float>(std::atof(request.rotate->c_str()));
    if (!std::isfinite(settings.rotate)) fail("Error: rotate %s is not a finite number!\n", request.rotate->c_str());
  }
  if (request.robust > 0) {
    fit->robust = std::make_unique<RobustWeighting>(request.robust);
    settings.reweighting = fit->robust.get();
  }
  fit->state = allocate_state(problem);
  run_interruptible([&](FitObserver& observer) {
    if (request.starts > 0 || request.fresh_starts > 0) {
      auto quiet = [](const std::string&) {};
      if (request.fresh_starts > 0) {
        fit->starts = run_starts(problem, settings, observer, static_cast<int>(request.fresh_starts),
                                 fresh_starts(problem, request.seed), quiet);
      } else {
        fit->starts = run_starts(problem, settings, observer, static_cast<int>(request.starts), request.seed, quiet);
      }
      if (fit->starts.best < 0) fail("Error: No start has a result; no result was written.\n");
      fit->outcome = fit->starts.starts[static_cast<std::size_t>(fit->starts.best)].outcome;
      fit->state = std::move(fit->starts.best_state);
    } else {
      fit->outcome = run_fit(problem, settings, fit->state, observer);
    }
    fail_without_result(fit->outcome);
    residue(problem, fit->state);
    fit->regression = regression_table(problem, fit->state, settings.threads);
  });
  return fit;
}

void write_table(const PythonFit& fit, const std::string& path) {
  refuse_input_as_result(path, fit.input.files);
  ResultFile result(path);
  write_result(*fit.input.problem, fit.state, result.stream(), fit.request.rotate ? fit.request.rotate->c_str() : nullptr,
               fit.regression);
  result.commit();
}

Options console_options(const PythonProblem& input, const FitRequest& request, const std::string& result_path) {
  Options options;
  options.passes = request.passes;
  options.converge = request.converge;
  options.keep_best = request.keep_best;
  options.accelerate = request.accelerate;
  options.threads = request.threads;
  options.robust = request.robust;
  options.starts = request.starts;
  options.fresh_starts = request.fresh_starts;
  options.seed = request.seed;
  options.names = request.names;
  options.hold = request.hold;
  const std::vector<std::string>& files = input.files;
  options.args = {input.problem->offset ? "o" : "n"};
  for (std::size_t i = 0; i < 3; ++i) options.args.push_back(i < files.size() ? files[i] : std::string());
  options.args.push_back(result_path);
  if (request.rotate) options.args.push_back(*request.rotate);
  return options;
}

std::vector<std::string> console_command_line(const Options& options) {
  std::vector<std::string> argv = {"tarnok"};
  auto option = [&](const char* name, const std::string& value) {
    argv.emplace_back(name);
    if (!value.empty()) argv.push_back(value);
  };
  const Options defaults;
  if (options.passes != defaults.passes) option("--passes", std::to_string(options.passes));
  if (options.converge != defaults.converge) option("--converge", format_text("%.17g", options.converge));
  if (options.keep_best) option("--keep-best", "");
  if (options.accelerate) option("--accelerate", "");
  if (options.robust != defaults.robust) option("--robust", format_text("%.17g", options.robust));
  if (options.starts != defaults.starts) option("--starts", std::to_string(options.starts));
  if (options.fresh_starts != defaults.fresh_starts) option("--fresh-starts", std::to_string(options.fresh_starts));
  if (options.bootstrap != defaults.bootstrap) option("--bootstrap", std::to_string(options.bootstrap));
  if (options.block != defaults.block) option("--block", std::to_string(options.block));
  if (options.seed != defaults.seed) option("--seed", std::to_string(options.seed));
  if (options.bootstrap != defaults.bootstrap || options.min_r != defaults.min_r) {
    option("--min-r", format_text("%.17g", options.min_r));
  }
  if (options.threads != defaults.threads) option("--threads", std::to_string(options.threads));
  if (!options.report.empty()) option("--report", options.report);
  if (!options.total.empty()) option("--total", options.total);
  if (!options.units.empty()) option("--units", options.units);
  if (!options.names.empty()) option("--names", options.names);
  for (const std::string& held : options.hold) option("--hold", held);
  if (options.disp) option("--disp", "");
  if (!options.disp_levels.empty()) option("--disp-levels", options.disp_levels);
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  return argv;
}

namespace {

// The console's options of the fit with a bootstrap after it.
Options with_bootstrap(Options options, int replicates, const BootstrapRequest& request) {
  options.bootstrap = replicates;
  options.block = request.block;
  options.seed = request.seed;
  options.min_r = request.min_r;
  if (request.accelerate) options.accelerate = *request.accelerate;
  return options;
}

// The profile file as the messages name it (empty for a problem made in memory,
// as the console command line of the run record has it).
std::string profile_name(const PythonProblem& input) { return input.files.empty() ? std::string() : input.files[0]; }

// The variable `total` names, -1 for none; fails as --total does for a name that
// is not a variable.
int total_variable(const PythonFit& fit, const std::string& total) {
  if (total.empty()) return -1;
  const int v = find_variable(*fit.input.problem, total);
  if (v < 0) fail("Error: --total %s is not a variable of %s!\n", total.c_str(), profile_name(fit.input).c_str());
  return v;
}

// The levels as --disp-levels would give them ("" for the default ones).
std::string levels_text(const std::vector<double>& levels) {
  std::string text;
  for (double level : levels) text += (text.empty() ? "" : ",") + format_text("%.17g", level);
  return text;
}

}  // namespace

PythonBootstrap bootstrap_fit(const PythonFit& fit, int replicates, const BootstrapRequest& request) {
  Options options = with_bootstrap(console_options(fit.input, fit.request, "result.tsv"), replicates, request);
  options.report = "report";
  check_options(options);
  const Problem& problem = *fit.input.problem;
  refuse_block_above_records(request.block, problem, data_name(fit.input));
  BootstrapSettings settings;
  settings.replicates = replicates;
  settings.block = static_cast<int>(request.block);  // at most nrec, checked above
  settings.seed = request.seed;
  settings.min_r = request.min_r;
  settings.threads = fit.settings.threads;
  settings.total = total_variable(fit, request.total);
  FitSettings fit_settings = fit.settings;
  if (request.accelerate) fit_settings.accelerate = *request.accelerate;
  PythonBootstrap bootstrap{{}, request};
  run_interruptible([&](FitObserver& observer) {
    bootstrap.run = run_bootstrap(problem, fit.state, fit_settings, observer, settings);
  });
  return bootstrap;
}

PythonDisplacement displace_fit(const PythonFit& fit, const std::vector<double>& levels, long threads,
                                const std::string& total, const PythonBootstrap* bootstrap) {
  PythonDisplacement displacement;
  displacement.levels = levels_text(levels);
  DisplacementSettings settings;
  if (!levels.empty()) settings.levels = parse_levels(displacement.levels);
  settings.threads = threads > 0 ? thread_count(threads) : fit.settings.threads;
  settings.total = total_variable(fit, total);
  if (stderr_is_terminal()) {
    // Progress as the console shows it, on a terminal only (not in a notebook).
    const auto started = std::chrono::steady_clock::now();
    settings.progress = [started](int done, int count) {
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      const double left = elapsed / done * (count - done);
      std::fprintf(stderr, "\rDisplacement: %d/%d searches, %.0f s elapsed, about %.0f s left ", done, count,
                   elapsed, left);
      if (done == count) std::fputc('\n', stderr);
      std::fflush(stderr);
    };
  }
  const Problem& problem = *fit.input.problem;
  run_interruptible([&](FitObserver& observer) {
    displacement.run = run_displacement(problem, fit.state, fit.settings, observer, settings);
  });
  if (settings.total >= 0) {
    const Apportionment shares = apportion(problem, fit.state, settings.total);
    const std::vector<std::vector<double>> none;
    const std::vector<ShareInterval> intervals =
        share_intervals(shares.percent, shares.mean, bootstrap != nullptr ? bootstrap->run.shares : none,
                        &displacement.run, shares.variable);
    displacement.apportionment = apportionment_table(problem.faktnavn, intervals);
  }
  return displacement;
}

void write_report_folder(const PythonFit& fit, const std::string& dir, const std::string& total,
                         const std::string& units, const std::string& result_path, const PythonBootstrap* bootstrap,
                         const PythonDisplacement* displacement) {
  const Problem& problem = *fit.input.problem;
  Options options = console_options(fit.input, fit.request, result_path);
  options.report = dir;
  options.total = total;
  options.units = units;
  if (bootstrap != nullptr) options = with_bootstrap(options, bootstrap->run.replicates, bootstrap->request);
  if (displacement != nullptr) {
    options.disp = true;
    options.disp_levels = displacement->levels;
  }
  total_variable(fit, total);
  ReportFolder report(dir, problem, options, fit.input.files, result_path);
  if (fit.request.starts > 0 || fit.request.fresh_starts > 0) report.write_starts(problem, fit.starts, total);
  if (bootstrap != nullptr) report.write_bootstrap(problem, fit.state, bootstrap->run);
  if (displacement != nullptr) report.write_displacement(problem, fit.state, displacement->run);
  RunTimes times;
  times.start_utc = utc_now();
  report.write_report(problem, fit.state, fit.settings, fit.regression, console_command_line(options), options,
                      fit.outcome, times);
  report.commit();
}
