// The report folder of --report DIR and the one place that names its files: the
// run record, the variables and records tables, the page, its figures, and the
// tables of starts and bootstrap. Before the fit it makes sure that every file it
// will write can be written and replaces neither an input nor the result; after
// the fit it builds the record and the tables in memory and renders the page from
// the same record and cells. Every file goes into a temporary folder beside DIR,
// which takes DIR's place in one step once the last file is written (commit()):
// DIR holds the old report or the new one, never a mixture.
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "control/options.h"
#include "displacement/apportionment.h"
#include "displacement/bootstrap_displacement.h"
#include "displacement/displacement.h"
#include "ensemble/bootstrap.h"
#include "ensemble/starts.h"
#include "fit/fit_outcome.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"
#include "output/run_record.h"
#include "control/text_table.h"
#include "platform/staged_folder.h"
#include "stats/regression.h"

// The files of the report folder; report_file_name gives each its name.
enum class ReportFile {
  run_record,          ///< the run record (JSON)
  variables,           ///< per variable: fit diagnostics and the regression
  records,             ///< per record: how well it is fitted
  page,                ///< the HTML page
  figures,             ///< the folder of the page's charts, one SVG file each
  starts,              ///< with --starts: every start
  best_start_profile,  ///< with --starts: the profiles the best start began from
  bootstrap,           ///< with --bootstrap: percentiles of every profile element
  bootstrap_mapping,   ///< with --bootstrap: per factor, the replicates mapped to it
  page_numbers,        ///< the page's numbers the tables do not hold, for tarnok report
  displacement,        ///< with --disp: the interval of every free element per level
  displacement_summary,  ///< with --disp: swaps and chi2 decrease per level
  displacement_profile,  ///< with --disp: the profiles every displaced fit starts from
  apportionment,       ///< with --disp and --total: the shares with their intervals
  bs_displacement,     ///< with --bs-disp: the interval over replicates of every free element per level
  bs_displacement_summary,  ///< with --bs-disp: swaps and chi2 decrease per level over replicates
};

// The name of a file (or of the figures' folder) in the report folder.
const char* report_file_name(ReportFile file);

// The path of `name` in folder `dir`, with one slash between them.
std::string report_path(const std::string& dir, const std::string& name);

class ReportFolder {
 public:
  // Before the fit, with the input files read: refuses a folder where any file the
  // run will write there (the figures too, as many as the problem's dimensions and
  // the options give) would replace one of `inputs` or the `result`, however
  // spelled, and a folder that is the result; makes the temporary folder and makes
  // sure each file can be created there and DIR can be changed. Creates DIR when
  // missing (the result may be written there), and removes it again when the run
  // ends without a report and left it empty. Fails otherwise.
  ReportFolder(const std::string& dir, const Problem& problem, const Options& options,
               const std::vector<std::string>& inputs, const std::string& result);
  ~ReportFolder();
  ReportFolder(const ReportFolder&) = delete;
  ReportFolder& operator=(const ReportFolder&) = delete;

  // After the result table: writes the tables of the starts and keeps the table
  // of the starts and its stability line (shares of the variable `total`, of all
  // variables when empty) for the page.
  void write_starts(const Problem& problem, const StartsRun& starts, const std::string& total);

  // After the bootstrap: writes its tables and keeps them for the page; a bootstrap
  // a key or Ctrl-C cut short is also stated in the run record and on the page.
  void write_bootstrap(const Problem& problem, const FitState& state, const BootstrapRun& bootstrap);

  // After the displacement: writes its tables and the profiles its fits start
  // from (a --hold run from them repeats any displaced fit), and keeps its numbers
  // for the run record and the page.
  void write_displacement(const Problem& problem, const FitState& state, const DisplacementRun& displacement);

  // After the displacement within bootstrap replicates: writes its tables and
  // keeps them and its counts for the run record and the page.
  void write_bootstrap_displacement(const Problem& problem, const BootstrapDisplacementRun& run);

  // Last: computes the diagnostics, writes the tables and the run record, and
  // renders the page and its figures from them. `argv` is the whole command line;
  // times are those of the run so far.
  void write_report(const Problem& problem, const FitState& state, const FitSettings& settings,
                    const RegressionTable& regression, const std::vector<std::string>& argv, const Options& options,
                    const FitOutcome& outcome, RunTimes times);

  // After write_report: puts the new folder in DIR's place.
  void commit();

 private:
  // The path of a file of the folder as the checks and the tables name it.
  std::string file_path(ReportFile file) const;
  // Writes `text` whole as the file `name` of the temporary folder (a figure's name
  // starts with the figures folder); a failure is named after its place in DIR.
  void write_file(const std::string& name, std::string_view text) const;

  std::string dir_;                              ///< the folder as typed
  std::string result_;                           ///< the result table, as typed
  std::unique_ptr<StagedFolder> staged_;         ///< the temporary folder the files go into
  bool made_dir_ = false;                        ///< DIR was made by this run
  bool committed_ = false;                       ///< the new folder is in DIR's place
  std::optional<TextTable> starts_;              ///< the table of the starts, once written
  std::string starts_summary_;                   ///< the stability line of the starts, once written
  std::optional<TextTable> bootstrap_;           ///< the table of the bootstrap, once written
  std::optional<TextTable> bootstrap_mapping_;   ///< its mapping table, once written
  nlohmann::json bootstrap_cut_short_;           ///< the counts of a bootstrap a stop cut short; null otherwise
  std::vector<std::string> units_;              ///< per variable its unit, read before the fit; empty: none known
  std::optional<DisplacementRun> displacement_;  ///< the displacement, once written
  std::optional<TextTable> displacement_summary_;  ///< its summary table, once written
  std::vector<std::vector<double>> bootstrap_shares_;  ///< per factor, the replicates' shares of the total
  std::optional<TextTable> bs_displacement_;          ///< the table of --bs-disp, once written
  std::optional<TextTable> bs_displacement_summary_;  ///< its summary table, once written
  nlohmann::json bs_displacement_record_;             ///< its settings and counts for the run record; null: not run
};
