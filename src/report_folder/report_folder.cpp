#include "report_folder/report_folder.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "control/failure.h"
#include "ensemble/stability.h"
#include "output/diagnostic_tables.h"
#include "formats/profile_format.h"
#include "formats/whole_file.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/signals.h"
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

// The elements a --hold fit held, by name and value.
void add_holds(const Problem& problem, const std::vector<HeldElement>& holds, nlohmann::json& record) {
  if (holds.empty()) return;
  nlohmann::json list = nlohmann::json::array();
  for (const HeldElement& held : holds) {
    list.push_back({{"factor", problem.faktnavn[static_cast<std::size_t>(held.factor)]},
                    {"variable", problem.varnavn[static_cast<std::size_t>(held.variable)]},
                    {"value", held.value}});
  }
  record["holds"] = list;
}

// A number of the record, null when its method was not run.
nlohmann::json number_or_null(double value) { return std::isnan(value) ? nlohmann::json() : nlohmann::json(value); }

// The apportionment's intervals from bootstrap and displacement.
void add_share_intervals(const Problem& problem, const std::vector<ShareInterval>& intervals, nlohmann::json& record) {
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t f = 0; f < intervals.size(); ++f) {
    const ShareInterval& i = intervals[f];
    list.push_back({{"factor", problem.faktnavn[f]},
                    {"share", i.share},
                    {"mean_contribution", i.mean_contribution},
                    {"bs_p05", number_or_null(i.bs_p05)},
                    {"bs_p95", number_or_null(i.bs_p95)},
                    {"disp_low", number_or_null(i.disp_low)},
                    {"disp_high", number_or_null(i.disp_high)}});
  }
  record["apportionment_intervals"] = list;
}

// The displacement's settings and counts.
void add_displacement(const Problem& problem, const DisplacementRun& run, nlohmann::json& record) {
  nlohmann::json levels = nlohmann::json::array();
  for (std::size_t k = 0; k < run.levels.size(); ++k) {
    levels.push_back({{"dq", run.levels[k]}, {"swaps", run.swaps[k]}, {"largest_decrease", run.largest_decrease[k]}});
  }
  (void)problem;
  record["displacement"] = {{"base_chi2", run.base_chi2},
                            {"fitted_chi2", run.fitted_chi2},
                            {"refinement", run.refinement},
                            {"refinement_steps", run.refine_steps},
                            {"newton_tolerance", kNewtonTolerance},
                            {"level_tolerance", kLevelTolerance},
                            {"decrease_tolerance", kDecreaseTolerance * (run.levels.empty() ? 0.0 : run.levels[0])},
                            {"free_elements", run.elements.size()},
                            {"searches", run.searches},
                            {"searches_not_run", run.not_run},
                            {"fits", run.fits},
                            {"failed_fits", run.failed},
                            {"chi2_decreased", run.decreased()},
                            {"levels", levels}};
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
    case ReportFile::displacement:
      return "disp.tsv";
    case ReportFile::displacement_summary:
      return "disp_summary.tsv";
    case ReportFile::displacement_profile:
      return "disp_profile.tsv";
    case ReportFile::apportionment:
      return "apportionment.tsv";
    case ReportFile::bs_displacement:
      return "bs_disp.tsv";
    case ReportFile::bs_displacement_summary:
      return "bs_disp_summary.tsv";
  }
  return "";
}

std::string ReportFolder::file_path(ReportFile file) const { return report_path(dir_, report_file_name(file)); }

ReportFolder::ReportFolder(const std::string& dir, const Problem& problem, const Options& options,
                           const std::vector<std::string>& inputs, const std::string& result)
    : dir_(dir), result_(result) {
  FilePlace dir_place, result_place;
  const bool result_placed = file_place(result, &result_place);
  if (result_placed && file_place(dir, &dir_place) && dir_place == result_place) {
    fail("Error: The report folder %s is the result file %s; they need different names!\n", dir.c_str(),
         result.c_str());
  }
  FileIdentity existing;
  const bool exists = file_identity(dir, &existing);
  if (exists && !is_folder(dir)) {
    fail("Error: Can't create the report folder %s!\nReason: it is a file, not a folder.\n", dir.c_str());
  }
  // Every file the run will write here: the four of every report, the tables of
  // starts and bootstrap, and the figures.
  std::vector<ReportFile> files = {ReportFile::run_record, ReportFile::variables, ReportFile::records,
                                   ReportFile::page, ReportFile::page_numbers};
  if (options.starts > 0 || options.fresh_starts > 0) {
    files.insert(files.end(), {ReportFile::starts, ReportFile::best_start_profile});
  }
  if (options.bootstrap > 0) files.insert(files.end(), {ReportFile::bootstrap, ReportFile::bootstrap_mapping});
  if (options.disp) {
    files.insert(files.end(),
                 {ReportFile::displacement, ReportFile::displacement_summary, ReportFile::displacement_profile});
    if (!options.total.empty()) files.push_back(ReportFile::apportionment);
  }
  if (options.bs_disp > 0) {
    files.insert(files.end(), {ReportFile::bs_displacement, ReportFile::bs_displacement_summary});
  }
  std::vector<std::string> names;
  for (ReportFile file : files) names.emplace_back(report_file_name(file));
  ReportShape shape;
  shape.nfakt = problem.nfakt;
  shape.nvar = problem.nvar;
  shape.apportionment = !options.total.empty();
  shape.bootstrap = options.bootstrap > 0;
  const std::string figures = std::string(report_file_name(ReportFile::figures)) + "/";
  for (const std::string& name : figure_names(shape)) names.push_back(figures + name);

  // However spelled, and also before the file exists: no report file may be an
  // input or the result.
  for (const std::string& name : names) {
    const std::string path = report_path(dir, name);
    FilePlace place;
    if (!file_place(path, &place)) continue;
    for (const std::string& input : inputs) {
      FilePlace input_place;
      if (file_place(input, &input_place) && input_place == place) {
        fail("Error: The report file %s is the input file %s; it would be overwritten!\n", path.c_str(),
             input.c_str());
      }
    }
    if (result_placed && place == result_place) {
      fail("Error: The report file %s is the result file %s; it would be overwritten!\n", path.c_str(),
           result.c_str());
    }
  }

  staged_ = std::make_unique<StagedFolder>(dir);
  if (!staged_->ok()) {
    fail("Error: Can't create the report folder %s!\nReason: %s.\n", dir.c_str(), staged_->reason().c_str());
  }
  // The old folder's entries are moved into the new one when it takes DIR's place.
  // The first file of each that the run writes names it in the message.
  const std::string first_in[] = {names.front(), figures + figure_names(shape).front()};
  for (const std::string& name : first_in) {
    const std::string folder = report_path(dir, name.substr(0, name.rfind('/') + 1));
    if (is_folder(folder) && !folder_writable(folder)) {
      fail("Error: Can't create %s!\nReason: %s.\n", report_path(dir, name).c_str(), last_error_text().c_str());
    }
  }
  if (!make_directory(report_path(staged_->path(), report_file_name(ReportFile::figures)))) {
    fail("Error: Can't create the report folder %s!\nReason: %s.\n", dir.c_str(), last_error_text().c_str());
  }
  // A file that can be created here now can be written after the fit; each is
  // removed at once. The run record comes first.
  for (const std::string& name : names) ResultFile probe(report_path(staged_->path(), name), report_path(dir, name));
  units_ = variable_units(problem, options);
  // The result may be written into DIR.
  if (!exists) {
    if (!make_directory(dir)) {
      fail("Error: Can't create the report folder %s!\nReason: %s.\n", dir.c_str(), last_error_text().c_str());
    }
    made_dir_ = true;
    register_made_folder(dir_.c_str());
  }
}

ReportFolder::~ReportFolder() {
  if (made_dir_ && !committed_) remove_empty_folder(dir_);
}

void ReportFolder::write_file(const std::string& name, std::string_view text) const {
  const std::string kept = "The result table " + result_ + " was replaced; " +
                           (made_dir_ ? "no report was written." : "the report folder " + dir_ + " is unchanged.");
  write_whole_file(report_path(staged_->path(), name), text, report_path(dir_, name), kept);
#ifdef TARNOK_TEST_HOOKS
  // For the tests of interrupts: a pause after each file of the report.
  if (const char* pause = std::getenv("TARNOK_TEST_REPORT_PAUSE_MS")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(pause)));
  }
#endif
}

void ReportFolder::commit() {
  std::string why;
  if (!staged_->commit(&why)) {
    fail("Error: Can't put the new report folder in the place of %s (%s)! The result table %s was replaced; %s\n",
         dir_.c_str(), why.c_str(), result_.c_str(),
         made_dir_ ? "no report was written." : ("the report folder " + dir_ + " is unchanged.").c_str());
  }
  committed_ = true;
  if (!staged_->left_behind().empty()) {
    std::fprintf(stderr, "tarnok: the old report folder, now %s, could not be removed.\n",
                 staged_->left_behind().c_str());
  }
}

void ReportFolder::write_starts(const Problem& problem, const StartsRun& starts, const std::string& total) {
  starts_ = starts_table(problem, starts);
  const Stability stability = assess_stability(problem, starts, total.empty() ? -1 : find_variable(problem, total));
  starts_summary_ = stability_line(problem, stability, total);
  if (!starts_summary_.empty() && starts_summary_.back() == '\n') starts_summary_.pop_back();  // one line on the page
  write_file(report_file_name(ReportFile::starts), tsv_text(*starts_));
  write_file(report_file_name(ReportFile::best_start_profile),
             profile_text(problem.faktnavn, problem.varnavn, starts.best_p));
}

void ReportFolder::write_bootstrap(const Problem& problem, const FitState& state, const BootstrapRun& bootstrap) {
  bootstrap_ = bootstrap_table(problem, state, bootstrap);
  write_file(report_file_name(ReportFile::bootstrap), tsv_text(*bootstrap_));
  bootstrap_mapping_ = mapping_table(problem, bootstrap);
  write_file(report_file_name(ReportFile::bootstrap_mapping), tsv_text(*bootstrap_mapping_));
  if (bootstrap.stopped > 0 || bootstrap.not_run > 0) {
    bootstrap_cut_short_ = {{"replicates", bootstrap.replicates}, {"fitted", bootstrap.fitted},
                            {"failed", bootstrap.failed},         {"stopped_part_way", bootstrap.stopped},
                            {"not_run", bootstrap.not_run}};
  }
  bootstrap_shares_ = bootstrap.shares;
}

void ReportFolder::write_displacement(const Problem& problem, const FitState& state,
                                      const DisplacementRun& displacement) {
  write_file(report_file_name(ReportFile::displacement), tsv_text(displacement_table(problem, displacement)));
  displacement_summary_ = displacement_summary_table(displacement);
  write_file(report_file_name(ReportFile::displacement_summary), tsv_text(*displacement_summary_));
  write_file(report_file_name(ReportFile::displacement_profile),
                   profile_text(problem.faktnavn, problem.varnavn, state.p));
  displacement_ = displacement;
}

void ReportFolder::write_bootstrap_displacement(const Problem& problem, const BootstrapDisplacementRun& run) {
  bs_displacement_ = bootstrap_displacement_table(problem, run);
  write_file(report_file_name(ReportFile::bs_displacement), tsv_text(*bs_displacement_));
  bs_displacement_summary_ = bootstrap_displacement_summary_table(run);
  write_file(report_file_name(ReportFile::bs_displacement_summary), tsv_text(*bs_displacement_summary_));
  nlohmann::json levels = nlohmann::json::array();
  for (std::size_t k = 0; k < run.levels.size(); ++k) {
    levels.push_back({{"dq", run.levels[k]}, {"swaps", run.swaps[k]}, {"largest_decrease", run.largest_decrease[k]}});
  }
  nlohmann::json mapped = nlohmann::json::array();
  for (std::size_t f = 0; f < run.mapped.size(); ++f) {
    mapped.push_back({{"factor", problem.faktnavn[f]}, {"mapped", run.mapped[f]}});
  }
  bs_displacement_record_ = {{"replicates", run.replicates},
                             {"block", run.block},
                             {"fitted", run.fitted},
                             {"failed", run.failed},
                             {"stopped_part_way", run.stopped},
                             {"not_run", run.not_run},
                             {"level_tolerance", kLevelTolerance},
                             {"decrease_tolerance", kDecreaseTolerance * (run.levels.empty() ? 0.0 : run.levels[0])},
                             {"free_elements", run.elements.size()},
                             {"interval_ends", run.ends},
                             {"fits", run.fits},
                             {"failed_fits", run.failed_fits},
                             {"chi2_decreased", run.decreased()},
                             {"mapped", mapped},
                             {"levels", levels}};
}

void ReportFolder::write_report(const Problem& problem, const FitState& state, const FitSettings& settings,
                                const RegressionTable& regression, const std::vector<std::string>& argv,
                                const Options& options, const FitOutcome& outcome, RunTimes times) {
  const auto started = std::chrono::steady_clock::now();
  const Diagnostics diagnostics = diagnose(problem, state, regression);
  ReportInput input;
  input.variables = variables_table(problem, state, diagnostics, regression, options.robust);
  write_file(report_file_name(ReportFile::variables), tsv_text(input.variables));
  input.records = records_table(problem, state, diagnostics, options.robust);
  write_file(report_file_name(ReportFile::records), tsv_text(input.records));
  Apportionment shares;
  const bool apportioned = !options.total.empty();
  if (apportioned) shares = apportion(problem, state, find_variable(problem, options.total));
  times.diagnostics_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  times.end_utc = utc_now();
  nlohmann::json record = run_record(problem, state, settings, argv, options, outcome, times, apportioned ? &shares : nullptr);
  if (!bootstrap_cut_short_.is_null()) record["bootstrap_stopped"] = bootstrap_cut_short_;
  add_holds(problem, settings.holds, record);
  if (displacement_) add_displacement(problem, *displacement_, record);
  if (!bs_displacement_record_.is_null()) record["bootstrap_displacement"] = bs_displacement_record_;
  std::optional<TextTable> share_table;
  if (displacement_ && apportioned) {
    const std::vector<ShareInterval> intervals =
        share_intervals(shares.percent, shares.mean, bootstrap_shares_, &*displacement_, shares.variable);
    share_table = apportionment_table(problem.faktnavn, intervals);
    write_file(report_file_name(ReportFile::apportionment), tsv_text(*share_table));
    add_share_intervals(problem, intervals, record);
  }
  const std::string record_text = record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  write_file(report_file_name(ReportFile::run_record), record_text);

  // The page shows the record as the file holds it: text that is not UTF-8
  // replaced and numbers that are not finite as null.
  input.run = nlohmann::json::parse(record_text);
  input.result = result_numbers(problem, state);
  input.pictures = pictures(diagnostics);
  input.starts = std::move(starts_);
  input.starts_summary = std::move(starts_summary_);
  input.bootstrap = std::move(bootstrap_);
  input.bootstrap_mapping = std::move(bootstrap_mapping_);
  input.units = units_;
  input.observed = observed_values(problem);
  write_file(report_file_name(ReportFile::page_numbers),
             page_numbers(input).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  if (displacement_) input.displacement = displacement_table(problem, *displacement_);
  input.displacement_summary = std::move(displacement_summary_);
  input.apportionment_intervals = std::move(share_table);
  input.bs_displacement = std::move(bs_displacement_);
  input.bs_displacement_summary = std::move(bs_displacement_summary_);
  const ReportPages pages = make_report(input);
  const std::string figures = std::string(report_file_name(ReportFile::figures)) + "/";
  for (const Figure& figure : pages.figures) write_file(figures + figure.name, figure.svg);
  write_file(report_file_name(ReportFile::page), pages.html);
}
