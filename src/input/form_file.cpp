#include "input/form_file.h"

#include <algorithm>
#include <string_view>

#include "control/failure.h"
#include "input/name_check.h"
#include "input/scanner.h"

namespace {

// Rows match variables by position; the label says which variable the row was
// written for. A label that names a different variable is an error (the rows are
// out of order, and the flags would go to the wrong variable); any other
// difference is a warning, since stored files may abbreviate their labels.
void check_label(const Model& m, Scanner& in, const std::string& label, int k) {
  const std::string_view shown = std::string_view(label).substr(0, label.find('\n'));
  if (names_variable(m, shown, k)) return;
  const long line = in.line() - static_cast<long>(std::count(label.begin(), label.end(), '\n'));
  const std::string& variable = m.varnavn[static_cast<std::size_t>(k)];
  const int other = other_variable(m, shown, k);
  if (other >= 0) {
    fail("Error: %s line %ld: row label '%s' names variable '%s', but this row belongs to variable '%s' (variable %d "
         "of the profile file): the rows must follow the profile's order of variables!\n",
         in.path().c_str(), line, quote_cell(shown).c_str(), quote_cell(m.varnavn[static_cast<std::size_t>(other)]).c_str(),
         quote_cell(variable).c_str(), k + 1);
  }
  warn("Warning: %s line %ld: row label '%s' differs from variable '%s'; the row is read as that variable's.\n",
       in.path().c_str(), line, quote_cell(shown).c_str(), quote_cell(variable).c_str());
}

}  // namespace

void read_form(Model& m, const std::string& path) {
  Scanner in(path);
  if (in.skip_until('\n') > 0) in.skip_space();  // the heading line
  std::string label;
  for (int k = 0; k < m.nvar && !in.at_end(); ++k) {
    label.clear();
    in.read_until(&label, '\t');  // the label cell
    check_label(m, in, label, k);
    in.skip_space();
    for (int f = 0; f < m.nfakt; ++f) {
      m.fp[static_cast<std::size_t>(k) * static_cast<std::size_t>(m.nfakt) + static_cast<std::size_t>(f)] =
          in.read_int();
    }
  }
}
