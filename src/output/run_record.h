// The run record (run.json): what was run on which files, how the fit went pass by
// pass, why it stopped and what it ended with. Numbers are the doubles the run
// printed or wrote, so they can be compared with the console and the result table.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "model/fit_state.h"
#include "model/fit_settings.h"
#include "model/problem.h"
#include "control/options.h"
#include "fit/fit_outcome.h"
#include "stats/diagnostics.h"

struct RunTimes {
  std::string start_utc;       ///< ISO 8601, e.g. 2026-12-07T16:05:12Z
  std::string end_utc;
  double read_seconds = 0.0;   ///< reading the three input files
  double fit_seconds = 0.0;    ///< the passes
  double output_seconds = 0.0; ///< residue, regression and result table
  double diagnostics_seconds = 0.0; ///< diagnostics and the tables of the report folder
};

// Current time as ISO 8601 UTC.
std::string utc_now();

// The record of a finished run. `argv` is the whole command line; `apportionment`
// is null without --total.
nlohmann::json run_record(const Problem& problem, const FitState& state, const FitSettings& settings,
                          const std::vector<std::string>& argv, const Options& options,
                          const FitOutcome& outcome, const RunTimes& times, const Apportionment* apportionment);
