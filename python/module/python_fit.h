// A problem and a fit as the Python package holds them: the same Problem,
// FitSettings and FitState the console program uses, kept together with what the
// result table, the report folder and the bootstrap need afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/options.h"
#include "control/text_table.h"
#include "displacement/displacement.h"
#include "ensemble/bootstrap.h"
#include "ensemble/starts.h"
#include "fit/fit_observer.h"
#include "fit/fit_outcome.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"
#include "robust/weights.h"
#include "stats/regression.h"

// A problem, read-only once made, and the files it was read from (empty when it
// was made in memory): the result table may replace none of them.
struct PythonProblem {
  std::shared_ptr<const Problem> problem;
  std::vector<std::string> files;  ///< profile, form, data; or empty
};

// What a fit is asked for, as the console's options name it.
struct FitRequest {
  long passes = -1;
  double converge = 0.0;
  bool keep_best = false;
  bool accelerate = false;
  double robust = 0.0;               ///< alpha; 0: off
  std::optional<std::string> rotate;  ///< the rotate strength as given
  long starts = 0;
  long fresh_starts = 0;             ///< starts built from the data; 0: none
  std::uint64_t seed = 1;
  long threads = 0;                  ///< 0: one per core
  std::string names;                 ///< the factors' names, comma-separated; "": the problem's
  std::vector<std::string> hold;     ///< FACTOR:VARIABLE=VALUE, each as given
};

// A finished fit with a result.
struct PythonFit {
  PythonProblem input;                   ///< the problem fitted: with the names and holds asked for
  FitRequest request;
  FitSettings settings;                  ///< reweighting points at robust when it is set
  std::unique_ptr<RobustWeighting> robust;
  FitState state;                        ///< the fitted state, residue included
  FitOutcome outcome;
  RegressionTable regression;
  StartsRun starts;                      ///< with starts or fresh starts: every start
};

// Runs `work` on a thread of its own with the interpreter's lock released, while
// the calling thread looks for Python's signals ten times a second: an interrupt
// (Ctrl-C) asks the fit to stop through the observer handed to `work`, and once
// `work` has returned the interrupt is raised as KeyboardInterrupt. An exception
// thrown by `work` is thrown again here. Called with the lock held.
void run_interruptible(const std::function<void(FitObserver&)>& work);

// Reads the three input files of the console program; `offset` as the mode O.
PythonProblem load_problem(const std::string& profile, const std::string& form, const std::string& data, bool offset);

// The problem with other starting profiles and form: `faktnavn` the factor names,
// p and fp nvar x nfakt in the order of the problem's variables.
PythonProblem with_start(const PythonProblem& base, const std::vector<std::string>& faktnavn,
                         const std::vector<double>& p, const std::vector<int>& fp);

// The data file as the messages name it ("the data" for a problem made in memory).
std::string data_name(const PythonProblem& input);

// Fits the problem as the console program would with the same options: the
// factors' names and held elements applied, the problem's checks made (the
// warning for records with nothing measured is a Python warning), then the fit
// once or from several starts, the residue and the regression table.
std::shared_ptr<PythonFit> fit_problem(const PythonProblem& input, const FitRequest& request);

// The result table, the same bytes as the console program's.
void write_table(const PythonFit& fit, const std::string& path);

// What a bootstrap is asked for beyond its replicates (--block, --seed, --min-r).
struct BootstrapRequest {
  long block = 0;                   ///< 0: the default length
  std::uint64_t seed = 1;
  double min_r = 0.6;
  std::optional<bool> accelerate;   ///< the fit's setting when not given
  std::string total;                ///< keep the replicates' shares of this variable; "": none
};

// A bootstrap of a fit and what it was asked for.
struct PythonBootstrap {
  BootstrapRun run;
  BootstrapRequest request;
};

// The bootstrap of the fit, as --bootstrap N after it.
PythonBootstrap bootstrap_fit(const PythonFit& fit, int replicates, const BootstrapRequest& request);

// A displacement of a fit, what it was asked for and, with a total, the
// apportionment's intervals.
struct PythonDisplacement {
  DisplacementRun run;
  std::string levels;                      ///< as --disp-levels; "": the default levels
  std::optional<TextTable> apportionment;  ///< with a total: apportionment.tsv
};

// The displacement of the fit, as --disp (--disp-levels, --total) after it:
// `levels` rising (empty: the default), `threads` 0 for the fit's, `total` ""
// for none; the bootstrap's shares of the total, when it kept them, go into the
// apportionment's intervals.
PythonDisplacement displace_fit(const PythonFit& fit, const std::vector<double>& levels, long threads,
                                const std::string& total, const PythonBootstrap* bootstrap);

// The report folder of the fit in `dir`, as --report DIR writes it; `total` as
// --total, `units` as --units, `result_path` the result table's path as the
// record names it.
void write_report_folder(const PythonFit& fit, const std::string& dir, const std::string& total,
                         const std::string& units, const std::string& result_path, const PythonBootstrap* bootstrap,
                         const PythonDisplacement* displacement);

// The console's options that ask for this fit, and the command line that gives
// them (each option that is not its default; the run record names it, and the
// console's parser checks it, so a fit from Python refuses what the console
// refuses, with its message).
Options console_options(const PythonProblem& input, const FitRequest& request, const std::string& result_path);
std::vector<std::string> console_command_line(const Options& options);
