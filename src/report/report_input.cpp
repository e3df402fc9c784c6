#include "report/report_input.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("can't read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> split(const std::string& line, char separator) {
  std::vector<std::string> cells;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = line.find(separator, begin);
    cells.push_back(line.substr(begin, end - begin));
    if (end == std::string::npos) break;
    begin = end + 1;
  }
  return cells;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines = split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
  }
  return lines;
}

}  // namespace

TextTable read_table(const std::string& path) {
  TextTable table;
  const std::vector<std::string> lines = lines_of(read_whole(path));
  if (lines.empty()) return table;
  table.headings = split(lines[0], '\t');
  for (std::size_t i = 1; i < lines.size(); ++i) table.rows.push_back(split(lines[i], '\t'));
  return table;
}

ReportInput load_report_input(const std::string& dir, const std::vector<std::string>& extra) {
  ReportInput in;
  try {
    in.run = nlohmann::json::parse(read_whole(dir + "/run.json"));
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(dir + "/run.json: " + e.what());
  }
  in.variables = read_table(dir + "/variables.tsv");
  in.records = read_table(dir + "/records.tsv");
  for (const std::string& name : extra) in.extra_tables.emplace_back(name, read_table(dir + "/" + name));
  return in;
}
