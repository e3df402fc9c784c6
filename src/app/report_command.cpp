#include "app/report_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "control/factor_names.h"
#include "report_folder/report_folder.h"
#include "control/failure.h"
#include "formats/whole_file.h"
#include "platform/files.h"
#include "platform/staged_folder.h"
#include "readback/report_files.h"
#include "report/html_report.h"

namespace {

const char* const kUsage =
    "Usage: tarnok report [options] DIR\n"
    "Draws report.html and its figures in the report folder DIR again from the files\n"
    "the fit wrote there (run.json, the tables and page_numbers.json), without fitting.\n"
    "  --names A,B,...  name the factors A, B, ... (one name per factor)\n"
    "  --total NAME     apportion variable NAME among the factors (none: no total)\n"
    "  --units FILE     the units of the variables from a species table of tarnok prepare\n"
    "  --help           print this text and exit\n";

struct ReportOptions {
  std::string dir;
  std::string names;
  std::string total;
  std::string units;
  bool help = false;
};

// Phase 1: the command line.
ReportOptions parse_report_options(int argc, const char* const* argv) {
  ReportOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= argc) fail("Error: report: %s needs a value! See tarnok report --help.\n", arg.c_str());
      *into = argv[++i];
    };
    if (arg == "--help") {
      o.help = true;
    } else if (arg == "--names") {
      value(&o.names);
    } else if (arg == "--total") {
      value(&o.total);
    } else if (arg == "--units") {
      value(&o.units);
    } else if (arg.rfind("--", 0) == 0 || !o.dir.empty()) {
      fail("Error: report: unexpected argument %s! See tarnok report --help.\n", arg.c_str());
    } else {
      o.dir = arg;
    }
  }
  if (!o.help && o.dir.empty()) fail("Error: report: name the report folder! See tarnok report --help.\n");
  return o;
}

// Phase 2: the page's input from the folder; the tables of starts and bootstrap
// when the run record says the run made them.
ReportInput read_folder(const std::string& dir) {
  ReportFolderFiles files;
  auto path = [&](ReportFile file) { return report_path(dir, report_file_name(file)); };
  files.run_record = path(ReportFile::run_record);
  files.variables = path(ReportFile::variables);
  files.records = path(ReportFile::records);
  files.numbers = path(ReportFile::page_numbers);
  std::string record;
  if (!read_text_file(files.run_record, &record)) {
    fail("Error: Can't read the report file %s!\n", files.run_record.c_str());
  }
  const nlohmann::json run = nlohmann::json::parse(record, nullptr, false);
  const nlohmann::json options = run.value("options", nlohmann::json::object());
  if (!options.value("starts", nlohmann::json()).is_null() || !options.value("fresh_starts", nlohmann::json()).is_null()) {
    files.starts = path(ReportFile::starts);
  }
  if (!options.value("bootstrap", nlohmann::json()).is_null()) {
    files.bootstrap = path(ReportFile::bootstrap);
    files.bootstrap_mapping = path(ReportFile::bootstrap_mapping);
  }
  if (run.contains("displacement")) {
    files.displacement = path(ReportFile::displacement);
    files.displacement_summary = path(ReportFile::displacement_summary);
  }
  if (run.contains("apportionment_intervals")) files.apportionment = path(ReportFile::apportionment);
  if (run.contains("bootstrap_displacement")) {
    files.bs_displacement = path(ReportFile::bs_displacement);
    files.bs_displacement_summary = path(ReportFile::bs_displacement_summary);
  }
  return read_report_folder(files);
}

// The variable the run apportioned, "" when none.
std::string text_of_total(const nlohmann::json& run) {
  const nlohmann::json a = run.value("apportionment", nlohmann::json());
  if (!a.is_object()) return "";
  const nlohmann::json variable = a.value("variable", nlohmann::json());
  return variable.is_string() ? variable.get<std::string>() : "";
}

// Phase 3: what the options change.
void apply_options(const ReportOptions& o, ReportInput* in) {
  const int nfakt = in->result.nfakt;
  if (!o.names.empty()) rename_factors(in, factor_names(o.names, nfakt));
  if (!o.units.empty()) {
    std::string text;
    if (!read_text_file(o.units, &text)) fail("Error: Can't read the species table %s!\n", o.units.c_str());
    std::vector<std::string> variables;
    for (const nlohmann::json& name : in->run.value("variables", nlohmann::json::array())) {
      variables.push_back(name.is_string() ? name.get<std::string>() : std::string());
    }
    in->units = units_of_species(table_of_tsv(text), variables);
  }
  // The intervals of the apportionment belong to the run's total.
  const std::string run_total = text_of_total(in->run);
  if (o.total == "none" || (!o.total.empty() && o.total != run_total)) in->apportionment_intervals.reset();
  if (o.total == "none") {
    in->run.erase("apportionment");
  } else if (!o.total.empty()) {
    const nlohmann::json variables = in->run.value("variables", nlohmann::json::array());
    std::size_t v = 0;
    while (v < variables.size() && variables[v] != o.total) ++v;
    if (v == variables.size()) fail("Error: --total %s is not a variable of the run!\n", o.total.c_str());
    in->run["apportionment"] = apportionment_record(*in, v);
  }
}

}  // namespace

int run_report(int argc, const char* const* argv) {
  const ReportOptions o = parse_report_options(argc, argv);
  if (o.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  ReportInput in = read_folder(o.dir);
  apply_options(o, &in);
  // Phase 4: the page and its figures, written into a folder built aside that takes
  // the report folder's place in one step (its other files move over unchanged).
  const ReportPages pages = make_report(in);
  StagedFolder staged(o.dir);
  if (!staged.ok()) fail("Error: Can't create the report folder %s!\nReason: %s.\n", o.dir.c_str(), staged.reason().c_str());
  const std::string figures = report_path(staged.path(), report_file_name(ReportFile::figures));
  if (!make_directories(figures)) fail("Error: Can't create the report folder %s!\n", figures.c_str());
  const std::string kept = "The report folder " + o.dir + " is unchanged.";
  const std::string shown_figures = report_path(o.dir, report_file_name(ReportFile::figures));
  for (const Figure& figure : pages.figures) {
    write_whole_file(figures + "/" + figure.name, figure.svg, shown_figures + "/" + figure.name, kept);
  }
  const std::string page = report_path(o.dir, report_file_name(ReportFile::page));
  write_whole_file(report_path(staged.path(), report_file_name(ReportFile::page)), pages.html, page, kept);
  std::string why;
  if (!staged.commit(&why)) {
    fail("Error: Can't put the new page in the place of %s (%s)! The report folder is unchanged.\n", o.dir.c_str(),
         why.c_str());
  }
  std::printf("Wrote %s and %zu figures.\n", page.c_str(), pages.figures.size());
  return 0;
}
