#include "input/profile_file.h"

#include <new>
#include <stdexcept>

#include "control/failure.h"
#include "input/fields.h"
#include "input/scanner.h"

namespace {

constexpr std::size_t kNameLength = 19;  // variable names are cut to this many characters

// Reads the factor names and counts the variables; the numbers are read in a
// second pass once the table sizes are known.
void read_names(Model& m, const std::string& path) {
  Scanner in(path);
  std::string faktlinie;
  if (in.read_until(&faktlinie, '\n') == 0) {
    fail("Error: %s line 1: the first line must hold the factor names!\n", path.c_str());
  }
  in.skip_space();
  for (std::string_view name : split_tabs(faktlinie)) m.faktnavn.emplace_back(name);
  if (m.faktnavn.empty()) fail("Error: %s line 1: no factor names!\n", path.c_str());
  m.nfakt = static_cast<int>(m.faktnavn.size());

  // One variable per line: its name is the first cell, cut to 19 characters; the
  // rest of the line is skipped together with any blank lines after it.
  while (!in.at_end()) {
    std::string name;
    in.read_until(&name, '\t', '\n', kNameLength);
    in.skip_space();
    if (!in.at_end()) {
      in.skip_until('\n');
      in.skip_space();
    }
    m.varnavn.push_back(std::move(name));
  }
  m.nvar = static_cast<int>(m.varnavn.size());
}

// More unknown contributions per record (factors, less the offset factor in
// offset mode) than variables: no record could determine its contributions, and
// the tables and the work of a pass grow with the square and the cube of a factor
// count that a short header line can put in the ten thousands. Checked before any
// table is created.
void check_factor_count(const Model& m, const std::string& path) {
  if (m.nfakt - m.offset > m.nvar) {
    fail("Error: %s line 1: %d factors but only %d variables; there must be at least as many variables as factors%s!\n",
         path.c_str(), m.nfakt, m.nvar, m.offset ? " besides the offset" : "");
  }
}

void create_tables(Model& m) {
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  const auto nvar = static_cast<std::size_t>(m.nvar);
  try {
    m.sum2.assign(nfakt, 0.0);
  } catch (const std::exception&) {
    fail("No memory. Reduce number of sources.\n");
  }
  try {
    m.p.assign(nvar * nfakt, 0.0);
  } catch (const std::exception&) {
    fail("No memory for p. Reduce number of records.\n");
  }
  try {
    m.fp.assign(nvar * nfakt, 0);
  } catch (const std::exception&) {
    fail("No memory for fp. Reduce number of records.\n");
  }
  m.r.assign(nvar, 0.0f);
  m.ny.assign(nvar, 0);
}

}  // namespace

void read_profile(Model& m, const std::string& path) {
  read_names(m, path);
  if (m.nvar == 0) fail("Error: %s: no variable rows after the factor names!\n", path.c_str());
  check_factor_count(m, path);
  create_tables(m);

  // Numbers go by count, not by line: each row is its name cell, up to the first
  // tab, and then nfakt numbers separated by any white space.
  Scanner in(path);
  if (in.skip_until('\n') > 0) in.skip_space();
  for (int v = 0; v < m.nvar; ++v) {
    in.skip_until('\t');
    in.skip_space();
    for (int f = 0; f < m.nfakt; ++f) {
      m.p[static_cast<std::size_t>(v) * static_cast<std::size_t>(m.nfakt) + static_cast<std::size_t>(f)] =
          in.read_double();
    }
  }
}
