#include "report_folder/report_folder.h"

#include <chrono>
#include <cmath>
#include <utility>

#include "control/failure.h"
#include "output/diagnostic_tables.h"
#include "formats/profile_format.h"
#include "formats/whole_file.h"
#include "output/same_file.h"
#include "platform/files.h"
#include "readback/report_files.h"
#include "report/html_report.h"
#include "report/report_input.h"
#include "stats/diagnostics.h"

namespace {

ResultNumbers result_numbers(const Problem& problem, const FitState& state) {
  ResultNumbers r;
  r.nfakt = problem.nfakt, r.nvar = problem.nvar, r.nrec = problem.nrec;
  r.ids.reserve(static_cast<std::size_t>(problem.nrec));
  for (int s = 0; s < problem.nrec; ++s) r.ids.emplace_back(problem.id(s));
  r.x = state.x;
  r.t = state.t;
  r.p = state.p;
  r.r.assign(state.r.begin(), state.r.end());
  return r;
}

std::vector<VariablePicture> pictures(const Diagnostics& d) {
  std::vector<VariablePicture> out;
  for (const VariableSample& sample : d.samples) {
    VariablePicture picture;
    picture.observed.assign(sample.observed.begin(), sample.observed.end());
    picture.fitted.assign(sample.fitted.begin(), sample.fitted.end());
    for (int k = 0; k <= kBins; ++k) picture.edges.push_back(-kBinEdge - kBinWidth + k * kBinWidth);
    picture.counts.assign(sample.histogram.begin(), sample.histogram.end());
    out.push_back(std::move(picture));
  }
  return out;
}

// Per variable its measured values over the records, NaN where not measured.
std::vector<std::vector<double>> observed_values(const Problem& problem) {
  std::vector<std::vector<double>> out(static_cast<std::size_t>(problem.nvar));
  for (int v = 0; v < problem.nvar; ++v) {
    std::vector<double>& values = out[static_cast<std::size_t>(v)];
    values.reserve(static_cast<std::size_t>(problem.nrec));
    for (int s = 0; s < problem.nrec; ++s) {
      const std::size_t c = static_cast<std::size_t>(s) * static_cast<std::size_t>(problem.nvar) + static_cast<std::size_t>(v);
      values.push_back(problem.usik[c] > 0 ? static_cast<double>(problem.rawdata[c]) : std::nan(""));
    }
  }
  return out;
}

// The units of the variables: from --units FILE, or else from species.tsv beside the
// data file when tarnok prepare wrote one there; none when neither gives them.
std::vector<std::string> variable_units(const Problem& problem, const Options& options) {
  std::string path = options.units;
  if (path.empty()) {
    const std::string& data = options.args[3];
    const std::size_t slash = data.find_last_of("/\\");
    path = (slash == std::string::npos ? std::string() : data.substr(0, slash + 1)) + "species.tsv";
  }
  std::string text;
  if (!read_text_file(path, &text)) {
    if (!options.units.empty()) fail("Error: Can't read the species table %s!\n", path.c_str());
    return {};
  }
  return units_of_species(table_of_tsv(text), problem.varnavn);
}

}  // namespace

std::string report_path(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

const char* report_file_name(ReportFile file) {
  switch (file) {
    case ReportFile::run_record:
      return "run.json";
    case ReportFile::variables:
      return "variables.tsv";
    case ReportFile::records:
      return "records.tsv";
    case ReportFile::page:
      return "report.html";
    case ReportFile::figures:
      return "figures";
    case ReportFile::starts:
      return "starts.tsv";
    case ReportFile::best_start_profile:
      return "best_start_profile.tsv";
    case ReportFile::bootstrap:
      return "bootstrap.tsv";
    case ReportFile::bootstrap_mapping:
      return "bootstrap_mapping.tsv";
    case ReportFile::page_numbers:
      return "page_numbers.json";
  }
  return "";
}

std::string ReportFolder::file_path(ReportFile file) const { return report_path(dir_, report_file_name(file)); }

// The run record, the page and the figures are written at the folder as typed, a
// slash and the name, the tables at file_path(): after a folder typed with a trailing
// slash, the message of a failed write names the former with two slashes.
std::string ReportFolder::written_path(ReportFile file) const {
  switch (file) {
    case ReportFile::run_record:
    case ReportFile::page:
    case ReportFile::figures:
      return dir_ + "/" + report_file_name(file);
    default:
      return file_path(file);
  }
}

ReportFolder::ReportFolder(const std::string& dir, const Problem& problem, const Options& options,
                           const std::vector<std::string>& inputs)
    : dir_(dir) {
  if (!make_directories(file_path(ReportFile::figures))) fail("Error: Can't create the report folder %s!\n", dir.c_str());
  // Every file the run will write here: the four of every report, the tables of
  // starts and bootstrap, and the figures.
  std::vector<ReportFile> files = {ReportFile::run_record, ReportFile::variables, ReportFile::records,
                                   ReportFile::page, ReportFile::page_numbers};
  if (options.starts > 0) files.insert(files.end(), {ReportFile::starts, ReportFile::best_start_profile});
  if (options.bootstrap > 0) files.insert(files.end(), {ReportFile::bootstrap, ReportFile::bootstrap_mapping});
  std::vector<std::string> paths;
  for (ReportFile file : files) paths.push_back(file_path(file));
  ReportShape shape;
  shape.nfakt = problem.nfakt;
  shape.nvar = problem.nvar;
  shape.apportionment = !options.total.empty();
  shape.bootstrap = options.bootstrap > 0;
  const std::string figures = file_path(ReportFile::figures) + "/";
  for (const std::string& name : figure_names(shape)) paths.push_back(figures + name);

  for (const std::string& path : paths) {
    refuse_input_as_result(path, inputs);  // an existing file under another spelling
    // A file not written yet (the result) under another spelling of the same path.
    FilePlace place;
    if (!file_place(path, &place)) continue;
    for (const std::string& input : inputs) {
      FilePlace input_place;
      if (file_place(input, &input_place) && input_place == place) {
        fail("Error: The report file %s is the file %s; it would be overwritten!\n", path.c_str(), input.c_str());
      }
    }
  }
  // A file that can be created here now can be written after the fit; each is
  // removed at once. The run record comes first.
  for (const std::string& path : paths) ResultFile probe(path);
  units_ = variable_units(problem, options);
}

void ReportFolder::write_starts(const Problem& problem, const StartsRun& starts) {
  starts_ = starts_table(problem, starts);
  write_whole_file(file_path(ReportFile::starts), tsv_text(*starts_));
  write_whole_file(file_path(ReportFile::best_start_profile),
                   profile_text(problem.faktnavn, problem.varnavn, starts.best_p));
}

void ReportFolder::write_bootstrap(const Problem& problem, const FitState& state, const BootstrapRun& bootstrap) {
  bootstrap_ = bootstrap_table(problem, state, bootstrap);
  write_whole_file(file_path(ReportFile::bootstrap), tsv_text(*bootstrap_));
  bootstrap_mapping_ = mapping_table(problem, bootstrap);
  write_whole_file(file_path(ReportFile::bootstrap_mapping), tsv_text(*bootstrap_mapping_));
  if (bootstrap.stopped > 0 || bootstrap.not_run > 0) {
    bootstrap_cut_short_ = {{"replicates", bootstrap.replicates}, {"fitted", bootstrap.fitted},
                            {"failed", bootstrap.failed},         {"stopped_part_way", bootstrap.stopped},
                            {"not_run", bootstrap.not_run}};
  }
}

void ReportFolder::write_report(const Problem& problem, const FitState& state, const FitSettings& settings,
                                const RegressionTable& regression, const std::vector<std::string>& argv,
                                const Options& options, const FitOutcome& outcome, RunTimes times) {
  const auto started = std::chrono::steady_clock::now();
  const Diagnostics diagnostics = diagnose(problem, state, regression);
  ReportInput input;
  input.variables = variables_table(problem, state, diagnostics, regression, options.robust);
  write_whole_file(file_path(ReportFile::variables), tsv_text(input.variables));
  input.records = records_table(problem, state, diagnostics, options.robust);
  write_whole_file(file_path(ReportFile::records), tsv_text(input.records));
  Apportionment shares;
  const bool apportioned = !options.total.empty();
  if (apportioned) shares = apportion(problem, state, find_variable(problem, options.total));
  times.diagnostics_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  times.end_utc = utc_now();
  nlohmann::json record = run_record(problem, state, settings, argv, options, outcome, times, apportioned ? &shares : nullptr);
  if (!bootstrap_cut_short_.is_null()) record["bootstrap_stopped"] = bootstrap_cut_short_;
  const std::string record_text = record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  write_whole_file(written_path(ReportFile::run_record), record_text);

  // The page shows the record as the file holds it: text that is not UTF-8
  // replaced and numbers that are not finite as null.
  input.run = nlohmann::json::parse(record_text);
  input.result = result_numbers(problem, state);
  input.pictures = pictures(diagnostics);
  input.starts = std::move(starts_);
  input.bootstrap = std::move(bootstrap_);
  input.bootstrap_mapping = std::move(bootstrap_mapping_);
  input.units = units_;
  input.observed = observed_values(problem);
  write_whole_file(file_path(ReportFile::page_numbers),
                   page_numbers(input).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  const ReportPages pages = make_report(input);
  const std::string figures = written_path(ReportFile::figures) + "/";
  for (const Figure& figure : pages.figures) write_whole_file(figures + figure.name, figure.svg);
  write_whole_file(written_path(ReportFile::page), pages.html);
}
