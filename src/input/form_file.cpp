#include "input/form_file.h"

#include "input/scanner.h"

void read_form(Model& m, const std::string& path) {
  Scanner in(path);
  if (in.skip_until('\n') > 0) in.skip_space();  // the heading line
  for (int k = 0; k < m.nvar && !in.at_end(); ++k) {
    in.skip_until('\t');  // the label cell
    in.skip_space();
    for (int f = 0; f < m.nfakt; ++f) {
      m.fp[static_cast<std::size_t>(k) * static_cast<std::size_t>(m.nfakt) + static_cast<std::size_t>(f)] =
          in.read_int();
    }
  }
}
