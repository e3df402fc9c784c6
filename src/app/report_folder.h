// The report folder of --report DIR: run.json, variables.tsv, records.tsv,
// report.html and figures/*.svg. Each file is written whole or not at all
// (temporary file, then rename).
#pragma once

#include <string>
#include <vector>

#include "control/model.h"
#include "control/options.h"
#include "fit/iteration.h"
#include "output/run_record.h"
#include "stats/regression.h"

// The path of file `name` in folder `dir`.
std::string report_path(const std::string& dir, const std::string& name);

// Before the fit: creates DIR and DIR/figures when missing and makes sure files can
// be written there, and refuses a folder where a report file, or one of `extra`
// (the tables of starts and bootstrap), would replace one of `inputs` (the input
// files and the result), however spelled. Fails otherwise.
void prepare_report_folder(const std::string& dir, const std::vector<std::string>& extra,
                           const std::vector<std::string>& inputs);

// After the result table: computes the diagnostics and writes every file of the
// folder. `argv` is the whole command line; times are those of the run so far.
void write_report_folder(const std::string& dir, Model& m, const RegressionTable& regression,
                         const std::vector<std::string>& argv, const Options& options, const FitOutcome& outcome,
                         RunTimes times);

// Writes `text` to `path` through a temporary file renamed over it.
void write_whole_file(const std::string& path, const std::string& text);
