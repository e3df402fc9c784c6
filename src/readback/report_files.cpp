#include "readback/report_files.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "control/failure.h"
#include "platform/files.h"

namespace {

nlohmann::json numbers_json(const std::vector<double>& values) {
  nlohmann::json out = nlohmann::json::array();
  for (double v : values) out.push_back(std::isfinite(v) ? nlohmann::json(v) : nlohmann::json());
  return out;
}

std::vector<double> numbers_of(const nlohmann::json& list) {
  std::vector<double> out;
  if (!list.is_array()) return out;
  out.reserve(list.size());
  for (const nlohmann::json& v : list) out.push_back(v.is_number() ? v.get<double>() : std::numeric_limits<double>::quiet_NaN());
  return out;
}

std::string text_of(const std::string& path) {
  std::string text;
  if (!read_text_file(path, &text)) fail("Error: Can't read the report file %s!\n", path.c_str());
  return text;
}

}  // namespace

bool read_text_file(const std::string& path, std::string* text) {
  std::FILE* file = open_file(path, "rb");
  if (file == nullptr) return false;
  text->clear();
  char buffer[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

TextTable table_of_tsv(std::string_view text) {
  TextTable table;
  bool first = true;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<std::string> cells;
    for (std::size_t at = 0;;) {
      const std::size_t tab = line.find('\t', at);
      cells.emplace_back(line.substr(at, tab == std::string_view::npos ? std::string_view::npos : tab - at));
      if (tab == std::string_view::npos) break;
      at = tab + 1;
    }
    if (first) {
      table.headings = std::move(cells);
      first = false;
    } else {
      table.rows.push_back(std::move(cells));
    }
  }
  return table;
}

std::vector<std::string> units_of_species(const TextTable& species, const std::vector<std::string>& variables) {
  std::size_t name = species.headings.size(), unit = species.headings.size();
  for (std::size_t c = 0; c < species.headings.size(); ++c) {
    if (species.headings[c] == "name in fit") name = c;
    if (species.headings[c] == "unit") unit = c;
  }
  if (name == species.headings.size() || unit == species.headings.size()) return {};
  std::vector<std::string> units(variables.size());
  for (const std::vector<std::string>& row : species.rows) {
    if (row.size() <= std::max(name, unit) || row[unit] == "-") continue;
    for (std::size_t v = 0; v < variables.size(); ++v) {
      if (variables[v] == row[name]) units[v] = row[unit];
    }
  }
  return units;
}

nlohmann::json page_numbers(const ReportInput& in) {
  const ResultNumbers& r = in.result;
  nlohmann::json pictures = nlohmann::json::array();
  for (const VariablePicture& p : in.pictures) {
    pictures.push_back({{"observed", numbers_json(p.observed)},
                        {"fitted", numbers_json(p.fitted)},
                        {"edges", numbers_json(p.edges)},
                        {"counts", numbers_json(p.counts)}});
  }
  nlohmann::json observed = nlohmann::json::array();
  for (const std::vector<double>& values : in.observed) observed.push_back(numbers_json(values));
  nlohmann::json numbers = {{"nfakt", r.nfakt},
          {"nvar", r.nvar},
          {"nrec", r.nrec},
          {"identifiers", r.ids},
          {"contributions", numbers_json(r.x)},
          {"residue_contributions", numbers_json(r.t)},
          {"profiles", numbers_json(r.p)},
          {"residue_profile", numbers_json(r.r)},
          {"observed", observed},
          {"pictures", pictures},
          {"units", in.units}};
  if (!in.starts_summary.empty()) numbers["starts_summary"] = in.starts_summary;
  return numbers;
}

void read_page_numbers(const nlohmann::json& numbers, ReportInput* in) {
  ResultNumbers& r = in->result;
  r.nfakt = numbers.value("nfakt", 0);
  r.nvar = numbers.value("nvar", 0);
  r.nrec = numbers.value("nrec", 0);
  r.ids = numbers.value("identifiers", std::vector<std::string>());
  r.x = numbers_of(numbers.value("contributions", nlohmann::json()));
  r.t = numbers_of(numbers.value("residue_contributions", nlohmann::json()));
  r.p = numbers_of(numbers.value("profiles", nlohmann::json()));
  r.r = numbers_of(numbers.value("residue_profile", nlohmann::json()));
  const auto nf = static_cast<std::size_t>(std::max(r.nfakt, 0));
  const auto nv = static_cast<std::size_t>(std::max(r.nvar, 0));
  const auto ns = static_cast<std::size_t>(std::max(r.nrec, 0));
  if (r.ids.size() != ns || r.x.size() != ns * nf || r.t.size() != ns || r.p.size() != nv * nf || r.r.size() != nv) {
    fail("Error: the page's numbers do not agree with their dimensions %d x %d x %d!\n", r.nrec, r.nvar, r.nfakt);
  }
  in->observed.clear();
  for (const nlohmann::json& values : numbers.value("observed", nlohmann::json::array())) {
    in->observed.push_back(numbers_of(values));
  }
  in->pictures.clear();
  for (const nlohmann::json& p : numbers.value("pictures", nlohmann::json::array())) {
    in->pictures.push_back({numbers_of(p.value("observed", nlohmann::json())), numbers_of(p.value("fitted", nlohmann::json())),
                            numbers_of(p.value("edges", nlohmann::json())), numbers_of(p.value("counts", nlohmann::json()))});
  }
  in->units = numbers.value("units", std::vector<std::string>());
  in->starts_summary = numbers.value("starts_summary", std::string());
}

ReportInput read_report_folder(const ReportFolderFiles& files) {
  ReportInput in;
  auto json_of = [](const std::string& path) {
    try {
      return nlohmann::json::parse(text_of(path));
    } catch (const nlohmann::json::exception&) {
      fail("Error: The report file %s is not the JSON the fit writes!\n", path.c_str());
    }
  };
  in.run = json_of(files.run_record);
  in.variables = table_of_tsv(text_of(files.variables));
  in.records = table_of_tsv(text_of(files.records));
  try {
    read_page_numbers(json_of(files.numbers), &in);
  } catch (const nlohmann::json::exception&) {
    fail("Error: The report file %s does not hold the page's numbers!\n", files.numbers.c_str());
  }
  if (!files.starts.empty()) in.starts = table_of_tsv(text_of(files.starts));
  if (!files.bootstrap.empty()) in.bootstrap = table_of_tsv(text_of(files.bootstrap));
  if (!files.bootstrap_mapping.empty()) in.bootstrap_mapping = table_of_tsv(text_of(files.bootstrap_mapping));
  if (!files.displacement.empty()) in.displacement = table_of_tsv(text_of(files.displacement));
  if (!files.displacement_summary.empty()) in.displacement_summary = table_of_tsv(text_of(files.displacement_summary));
  if (!files.apportionment.empty()) in.apportionment_intervals = table_of_tsv(text_of(files.apportionment));
  if (!files.bs_displacement.empty()) in.bs_displacement = table_of_tsv(text_of(files.bs_displacement));
  if (!files.bs_displacement_summary.empty()) {
    in.bs_displacement_summary = table_of_tsv(text_of(files.bs_displacement_summary));
  }
  return in;
}
