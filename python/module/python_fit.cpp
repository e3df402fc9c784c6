#include "python_fit.h"

#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "control/failure.h"
#include "control/text_format.h"
#include "fit/iteration.h"
#include "fit/residue.h"
#include "fit/stop_line.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "formats/whole_file.h"
#include "output/result_file.h"
#include "output/run_record.h"
#include "output/same_file.h"
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

int thread_count(long threads) {
  const long cores = static_cast<long>(std::thread::hardware_concurrency());
  return static_cast<int>(std::min(threads > 0 ? threads : std::max(cores, 1L), 256L));
}

FitState allocate_state(const Problem& problem) {
  try {
    return FitState::sized_for(problem);
  } catch (const NoMemoryFor& no_memory) {
    if (std::string(no_memory.table()) == "sum2") fail("No memory. Reduce number of sources.\n");
    fail("No memory for %s. Reduce number of records.\n", no_memory.table());
  }
}

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

std::shared_ptr<PythonFit> fit_problem(const PythonProblem& input, const FitRequest& request) {
  check_options(console_options(input, request, "result.tsv"));
  auto fit = std::make_shared<PythonFit>();
  fit->input = input;
  fit->request = request;
  const Problem& problem = *input.problem;
  FitSettings& settings = fit->settings;
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
    if (request.starts > 0) {
      fit->starts = run_starts(problem, settings, observer, static_cast<int>(request.starts),
                               static_cast<std::uint64_t>(request.seed), [](const std::string&) {});
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
  options.seed = request.seed;
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
  if (options.bootstrap != defaults.bootstrap) option("--bootstrap", std::to_string(options.bootstrap));
  if (options.block != defaults.block) option("--block", std::to_string(options.block));
  if (options.seed != defaults.seed) option("--seed", std::to_string(options.seed));
  if (options.bootstrap != defaults.bootstrap || options.min_r != defaults.min_r) {
    option("--min-r", format_text("%.17g", options.min_r));
  }
  if (options.threads != defaults.threads) option("--threads", std::to_string(options.threads));
  if (!options.report.empty()) option("--report", options.report);
  if (!options.total.empty()) option("--total", options.total);
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  return argv;
}

PythonBootstrap bootstrap_fit(const PythonFit& fit, int replicates, long block, std::uint64_t seed, double min_r) {
  Options options = console_options(fit.input, fit.request, "result.tsv");
  options.bootstrap = replicates;
  options.block = block;
  options.seed = seed;
  options.min_r = min_r;
  options.report = "report";
  check_options(options);
  const Problem& problem = *fit.input.problem;
  BootstrapSettings settings;
  settings.replicates = replicates;
  settings.block = static_cast<int>(std::min(block, static_cast<long>(problem.nrec)));
  settings.seed = static_cast<std::uint64_t>(seed);
  settings.min_r = min_r;
  settings.threads = fit.settings.threads;
  PythonBootstrap bootstrap{{}, block, seed, min_r};
  run_interruptible(
      [&](FitObserver& observer) { bootstrap.run = run_bootstrap(problem, fit.state, fit.settings, observer, settings); });
  return bootstrap;
}

void write_report_folder(const PythonFit& fit, const std::string& dir, const std::string& total,
                         const std::string& result_path, const PythonBootstrap* bootstrap) {
  const Problem& problem = *fit.input.problem;
  Options options = console_options(fit.input, fit.request, result_path);
  options.report = dir;
  options.total = total;
  if (bootstrap != nullptr) {
    options.bootstrap = bootstrap->run.replicates;
    options.block = bootstrap->block;
    options.seed = bootstrap->seed;
    options.min_r = bootstrap->min_r;
  }
  if (!total.empty() && find_variable(problem, total) < 0) {
    fail("Error: --total %s is not a variable of %s!\n", total.c_str(), options.args[1].c_str());
  }
  ReportFolder report(dir, problem, options, fit.input.files, result_path);
  if (fit.request.starts > 0) report.write_starts(problem, fit.starts, total);
  if (bootstrap != nullptr) report.write_bootstrap(problem, fit.state, bootstrap->run);
  RunTimes times;
  times.start_utc = utc_now();
  report.write_report(problem, fit.state, fit.settings, fit.regression, console_command_line(options), options,
                      fit.outcome, times);
  report.commit();
}
