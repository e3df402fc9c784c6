// The layout that the profile and form files share: the factor names after a tab
// on the first line, then per variable its name and one cell per factor.
#pragma once

#include <string>
#include <vector>

// The text of such a table; append_cell(out, element) appends the cell of element
// v * nfakt + f.
template <typename AppendCell>
std::string factor_table_text(const std::vector<std::string>& faktnavn, const std::vector<std::string>& varnavn,
                              AppendCell append_cell) {
  std::string out;
  for (const std::string& name : faktnavn) out += "\t" + name;
  out += '\n';
  const std::size_t nfakt = faktnavn.size();
  for (std::size_t v = 0; v < varnavn.size(); ++v) {
    out += varnavn[v];
    for (std::size_t f = 0; f < nfakt; ++f) {
      out += '\t';
      append_cell(out, v * nfakt + f);
    }
    out += '\n';
  }
  return out;
}
