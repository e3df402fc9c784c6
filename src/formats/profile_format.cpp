#include "formats/profile_format.h"

#include <charconv>
#include <new>
#include <stdexcept>

#include "control/failure.h"
#include "formats/factor_table.h"
#include "formats/fields.h"
#include "formats/scanner.h"

namespace {

constexpr std::size_t kNameLength = 19;  // variable names are cut to this many characters

// Reads the factor names and counts the variables; the numbers are read in a
// second pass once the table sizes are known.
void read_names(Problem& problem, const std::string& path) {
  Scanner in(path);
  std::string faktlinie;
  if (in.read_until(&faktlinie, '\n') == 0) {
    fail("Error: %s line 1: the first line must hold the factor names!\n", path.c_str());
  }
  in.skip_space();
  for (std::string_view name : split_tabs(faktlinie)) problem.faktnavn.emplace_back(name);
  if (problem.faktnavn.empty()) fail("Error: %s line 1: no factor names!\n", path.c_str());
  problem.nfakt = static_cast<int>(problem.faktnavn.size());

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
    problem.varnavn.push_back(std::move(name));
  }
  problem.nvar = static_cast<int>(problem.varnavn.size());
}

// More unknown contributions per record (factors, less the offset factor in
// offset mode) than variables: no record could determine its contributions, and
// the tables and the work of a pass grow with the square and the cube of a factor
// count that a short header line can put in the ten thousands. Checked before any
// table is created.
void check_factor_count(const Problem& problem, const std::string& path) {
  if (problem.nfakt - problem.offset > problem.nvar) {
    fail("Error: %s line 1: %d factors but only %d variables; there must be at least as many variables as factors%s!\n",
         path.c_str(), problem.nfakt, problem.nvar, problem.offset ? " besides the offset" : "");
  }
}

void create_tables(Problem& problem) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  try {
    problem.starting_p.assign(nvar * nfakt, 0.0);
  } catch (const std::exception&) {
    fail("No memory for p. Reduce number of records.\n");
  }
  try {
    problem.fp.assign(nvar * nfakt, 0);
  } catch (const std::exception&) {
    fail("No memory for fp. Reduce number of records.\n");
  }
}

}  // namespace

void read_profile(Problem& problem, const std::string& path) {
  read_names(problem, path);
  if (problem.nvar == 0) fail("Error: %s: no variable rows after the factor names!\n", path.c_str());
  check_factor_count(problem, path);
  create_tables(problem);

  // Numbers go by count, not by line: each row is its name cell, up to the first
  // tab, and then nfakt numbers separated by any white space.
  Scanner in(path);
  if (in.skip_until('\n') > 0) in.skip_space();
  for (int v = 0; v < problem.nvar; ++v) {
    in.skip_until('\t');
    in.skip_space();
    for (int f = 0; f < problem.nfakt; ++f) {
      problem.starting_p[static_cast<std::size_t>(v) * static_cast<std::size_t>(problem.nfakt) + static_cast<std::size_t>(f)] =
          in.read_double();
    }
  }
}

std::string profile_text(const std::vector<std::string>& faktnavn, const std::vector<std::string>& varnavn,
                         const std::vector<double>& p) {
  return factor_table_text(faktnavn, varnavn, [&p](std::string& out, std::size_t e) {
    char buf[40];
    const auto result = std::to_chars(buf, buf + sizeof buf, p[e]);  // shortest exact text
    out.append(buf, result.ptr);
  });
}
