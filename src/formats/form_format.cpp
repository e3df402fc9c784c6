#include "formats/form_format.h"

#include <algorithm>
#include <string_view>

#include "control/failure.h"
#include "formats/factor_table.h"
#include "formats/name_check.h"
#include "formats/scanner.h"

namespace {

// Rows match variables by position; the label says which variable the row was
// written for. A label that names a different variable is an error (the rows are
// out of order, and the flags would go to the wrong variable); any other
// difference is a warning, since stored files may abbreviate their labels.
void check_label(const Problem& problem, Scanner& in, const std::string& label, int k) {
  const std::string_view shown = std::string_view(label).substr(0, label.find('\n'));
  if (names_variable(problem, shown, k)) return;
  const long line = in.line() - static_cast<long>(std::count(label.begin(), label.end(), '\n'));
  const std::string& variable = problem.varnavn[static_cast<std::size_t>(k)];
  const int other = other_variable(problem, shown, k);
  if (other >= 0) {
    fail("Error: %s line %ld: row label '%s' names variable '%s', but this row belongs to variable '%s' (variable %d "
         "of the profile file): the rows must follow the profile's order of variables!\n",
         in.path().c_str(), line, quote_cell(shown).c_str(), quote_cell(problem.varnavn[static_cast<std::size_t>(other)]).c_str(),
         quote_cell(variable).c_str(), k + 1);
  }
  warn("Warning: %s line %ld: row label '%s' differs from variable '%s'; the row is read as that variable's.\n",
       in.path().c_str(), line, quote_cell(shown).c_str(), quote_cell(variable).c_str());
}

// The numbers of a row are read by count, so a row may go on on the next line;
// but where the row's own line has an empty cell, a flag is missing there, and
// the row is refused at that line instead of taking the next row's cells.
void refuse_empty_cell(const Problem& problem, const std::string& path, long row_line, int read) {
  const long column = first_empty_column(line_of(path, row_line));
  if (column == 0) return;
  fail("Error: %s line %ld: %d number%s where %d %s expected (one per factor); column %ld is empty!\n", path.c_str(),
       row_line, read, read == 1 ? "" : "s", problem.nfakt, problem.nfakt == 1 ? "is" : "are", column);
}

}  // namespace

void read_form(Problem& problem, const std::string& path) {
  Scanner in(path);
  if (in.skip_until('\n') > 0) in.skip_space();  // the heading line
  std::string label;
  for (int k = 0; k < problem.nvar && !in.at_end(); ++k) {
    label.clear();
    in.read_until(&label, '\t');  // the label cell
    check_label(problem, in, label, k);
    const long row_line = in.line();
    in.skip_space();
    for (int f = 0; f < problem.nfakt; ++f) {
      if (in.line() > row_line) refuse_empty_cell(problem, in.path(), row_line, f);
      problem.fp[static_cast<std::size_t>(k) * static_cast<std::size_t>(problem.nfakt) + static_cast<std::size_t>(f)] =
          in.read_int();
    }
  }
}

std::string form_text(const std::vector<std::string>& faktnavn, const std::vector<std::string>& varnavn,
                      const std::vector<int>& fp) {
  return factor_table_text(faktnavn, varnavn, [&fp](std::string& out, std::size_t e) { out += fp[e] != 0 ? '1' : '0'; });
}
