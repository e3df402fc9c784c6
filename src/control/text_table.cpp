#include "control/text_table.h"

namespace {

void append_line(std::string& out, const std::vector<std::string>& cells) {
  for (std::size_t c = 0; c < cells.size(); ++c) {
    if (c > 0) out += '\t';
    out += cells[c];
  }
  out += '\n';
}

}  // namespace

std::string tsv_text(const TextTable& table) {
  std::string out;
  append_line(out, table.headings);
  for (const std::vector<std::string>& row : table.rows) append_line(out, row);
  return out;
}
