// A table of text cells: its heading cells and its rows. The tables of the report
// folder are built as such tables; the same cells give the tab-separated file and
// the table on the page, so the two cannot disagree.
#pragma once

#include <string>
#include <vector>

struct TextTable {
  std::vector<std::string> headings;
  std::vector<std::vector<std::string>> rows;
};

// The table as tab-separated text: the headings on the first line, then one line
// per row, cells separated by tabs, every line ended by a line feed.
std::string tsv_text(const TextTable& table);
