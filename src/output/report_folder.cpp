#include "output/report_folder.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "control/failure.h"
#include "output/diagnostic_tables.h"
#include "output/same_file.h"
#include "output/whole_file.h"
#include "platform/files.h"
#include "report/html_report.h"
#include "report/report_input.h"
#include "stats/diagnostics.h"

namespace {

const char* const kReportFiles[] = {"run.json", "variables.tsv", "records.tsv", "report.html"};

ResultNumbers result_numbers(const Model& m) {
  ResultNumbers r;
  r.nfakt = m.nfakt, r.nvar = m.nvar, r.nrec = m.nrec;
  r.ids.reserve(static_cast<std::size_t>(m.nrec));
  for (int s = 0; s < m.nrec; ++s) r.ids.emplace_back(m.id(s));
  r.x = m.x;
  r.t = m.t;
  r.p = m.p;
  r.r.assign(m.r.begin(), m.r.end());
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

// A tab-separated text as a table: its first line the headings, a CR before a line
// end dropped.
TextTable table_of(const std::string& text) {
  auto split = [](const std::string& line, char separator) {
    std::vector<std::string> cells;
    for (std::size_t begin = 0;;) {
      const std::size_t end = line.find(separator, begin);
      cells.push_back(line.substr(begin, end - begin));
      if (end == std::string::npos) return cells;
      begin = end + 1;
    }
  };
  std::vector<std::string> lines = split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  TextTable table;
  if (lines.empty()) return table;
  table.headings = split(lines[0], '\t');
  for (std::size_t i = 1; i < lines.size(); ++i) table.rows.push_back(split(lines[i], '\t'));
  return table;
}

// The whole text of a table this run wrote into the folder before.
std::string read_back(const std::string& path) {
  std::FILE* in = open_file(path, "rb");
  if (in == nullptr) throw std::runtime_error("can't read " + path);
  std::string text;
  char buffer[1 << 16];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, got);
  const bool failed = std::ferror(in) != 0;
  std::fclose(in);
  if (failed) throw std::runtime_error("can't read " + path);
  return text;
}

}  // namespace

void write_whole_file(const std::string& path, const std::string& text) {
  ResultFile file(path);
  std::fwrite(text.data(), 1, text.size(), file.stream());
  file.commit();
}

std::string report_path(const std::string& dir, const std::string& name) {
  return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
}

void prepare_report_folder(const std::string& dir, const std::vector<std::string>& extra,
                           const std::vector<std::string>& inputs) {
  if (!make_directories(report_path(dir, "figures"))) fail("Error: Can't create the report folder %s!\n", dir.c_str());
  std::vector<std::string> names(std::begin(kReportFiles), std::end(kReportFiles));
  names.insert(names.end(), extra.begin(), extra.end());
  for (const std::string& name : names) {
    const std::string path = report_path(dir, name);
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
  // A file that can be created here now can be written after the fit; it is removed at once.
  ResultFile probe(report_path(dir, "run.json"));
}

void write_report_folder(const std::string& dir, Model& m, const RegressionTable& regression,
                         const std::vector<std::string>& argv, const Options& options, const FitOutcome& outcome,
                         RunTimes times) {
  const auto started = std::chrono::steady_clock::now();
  const Diagnostics diagnostics = diagnose(m, regression);
  ReportInput input;
  const std::string variables = variables_table(m, diagnostics, regression);
  write_whole_file(report_path(dir, "variables.tsv"), variables);
  input.variables = table_of(variables);
  const std::string records = records_table(m, diagnostics);
  write_whole_file(report_path(dir, "records.tsv"), records);
  input.records = table_of(records);
  Apportionment shares;
  const bool apportioned = !options.total.empty();
  if (apportioned) shares = apportion(m, find_variable(m, options.total));
  times.diagnostics_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  times.end_utc = utc_now();
  const nlohmann::json record = run_record(m, argv, options, outcome, times, apportioned ? &shares : nullptr);
  const std::string record_text = record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  write_whole_file(dir + "/run.json", record_text);
  // The report shows the record as written (any text that is not UTF-8 replaced).
  input.run = nlohmann::json::parse(record_text);

  // The tables of the starts and the bootstrap were written before the fit's own.
  try {
    std::vector<std::string> extra;
    if (options.starts > 0) extra.emplace_back("starts.tsv");
    if (options.bootstrap > 0) extra.insert(extra.end(), {"bootstrap.tsv", "bootstrap_mapping.tsv"});
    for (const std::string& name : extra) input.extra_tables.emplace_back(name, table_of(read_back(dir + "/" + name)));
  } catch (const std::exception& e) {
    fail("Error: Can't read the report folder back (%s)!\n", e.what());
  }
  input.result = result_numbers(m);
  input.pictures = pictures(diagnostics);
  const ReportPages pages = make_report(input);
  for (const Figure& figure : pages.figures) write_whole_file(dir + "/figures/" + figure.name, figure.svg);
  write_whole_file(dir + "/report.html", pages.html);
}
