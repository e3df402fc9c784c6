// A report folder read back: the page's input rebuilt from the files the fit wrote
// there (the run record, the tables and the page's numbers), so that the page can
// be drawn again without the fit; and the units of a species table. Every file is
// opened through the platform.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <vector>

#include "control/text_table.h"
#include "report/report_input.h"

// The whole file as text; false when it cannot be read.
bool read_text_file(const std::string& path, std::string* text);

// Tab-separated text as a table: the first line the headings, each further line a
// row (empty cells kept; a line end of CR LF read as LF).
TextTable table_of_tsv(std::string_view text);

// Per variable its unit from a species table of tarnok prepare (columns "name in
// fit" and "unit"; "-" is no unit); "" for a variable the table does not name.
// Empty when the table has no unit column.
std::vector<std::string> units_of_species(const TextTable& species, const std::vector<std::string>& variables);

// The numbers of the page that the folder's tables do not hold (the result table's
// contributions and profiles, the measured values, the per-variable pictures, the
// units) as JSON, every double with all its digits and NaN as null; and back.
nlohmann::json page_numbers(const ReportInput& in);
void read_page_numbers(const nlohmann::json& numbers, ReportInput* in);

// Where the files of a report folder are; "" for a table the run did not write.
struct ReportFolderFiles {
  std::string run_record, variables, records, numbers;
  std::string starts, bootstrap, bootstrap_mapping;
  std::string displacement, displacement_summary, apportionment;
  std::string bs_displacement, bs_displacement_summary;
};

// The page's input from the folder's files; fails naming the first file that is
// missing or cannot be read.
ReportInput read_report_folder(const ReportFolderFiles& files);
