#include "formats/data_format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "control/failure.h"
#include "control/text_format.h"
#include "formats/fields.h"
#include "formats/name_check.h"
#include "formats/scanner.h"

namespace {

// The heading line as the user sees it, for the hint about a file that is not
// tab-separated: the identifier heading and the rest, from the first line end on cut.
std::string_view heading_line_of(const std::string& text) {
  std::string_view line(text);
  while (!line.empty() && line.front() == '\n') line.remove_prefix(1);
  return line.substr(0, line.find('\n'));
}

// " The line holds commas ..." when the heading line has no tab but commas or
// semicolons: the file is then most likely comma-separated.
std::string separator_hint(std::string_view line) {
  if (line.find('\t') != std::string_view::npos) return "";
  const bool commas = line.find(',') != std::string_view::npos;
  const bool semicolons = line.find(';') != std::string_view::npos;
  if (!commas && !semicolons) return "";
  return std::string(" The line holds ") + (commas ? "commas" : "semicolons") +
         " but no tabs: the file is not tab-separated (tarnok prepare converts such files).";
}

// The value headings (every other field of the heading line after its first cell)
// must match the variables in order. A first character that differs, or a count
// that differs, ends the run with the fixed message and a second line that says
// where; a heading that names a different variable in full is an error (the
// columns are swapped); any other difference is a warning, since stored files
// may abbreviate their headings. `line` is the number of the heading line;
// columns count the cells of that line from 1, the identifier heading's included.
void check_headings(const Problem& problem, const std::string& path, long line, const std::string& xnavn,
                    const std::string& headings) {
  const std::string both = xnavn + headings;
  const std::string_view whole = heading_line_of(both);
  const std::string hint = separator_hint(whole);
  auto mismatch = [&](const std::string& where) {
    fail("Error: Mismatch of variable names!\n%s line %ld%s.%s\n", path.c_str(), line, where.c_str(), hint.c_str());
  };
  if (whole.find('\t') == std::string_view::npos) mismatch(": no tab between the headings");
  std::vector<std::string_view> fields = split_tabs(headings);
  for (std::size_t k = 0; k < fields.size(); k += 2) {
    const int j = static_cast<int>(k / 2);
    const std::string_view heading = fields[k];
    const auto offset = static_cast<std::size_t>(heading.data() - headings.data());
    const long column = 1 + static_cast<long>(std::count(headings.begin(), headings.begin() + static_cast<std::ptrdiff_t>(offset), '\t'));
    const std::string found = quote_cell(heading);
    if (j >= problem.nvar) {
      mismatch(format_text(" column %ld: value heading '", column) + found + "' for a variable " +
               std::to_string(j + 1) + ", but the profile file has only " + std::to_string(problem.nvar) + " variables");
    }
    const std::string& variable = problem.varnavn[static_cast<std::size_t>(j)];
    const int other = other_variable(problem, heading, j);
    if (heading[0] != variable[0]) {
      std::string where = format_text(" column %ld: value heading '", column) + found + "' where variable '" +
                          quote_cell(variable) + "' is expected";
      if (other >= 0) where += " (it names variable " + std::to_string(other + 1) + " of the profile file)";
      mismatch(where);
    }
    if (names_variable(problem, heading, j)) continue;
    if (other >= 0) {
      fail("Error: %s line %ld column %ld: value heading '%s' names variable '%s', but this column belongs to variable "
           "'%s': are the columns swapped?\n",
           path.c_str(), line, column, found.c_str(), quote_cell(problem.varnavn[static_cast<std::size_t>(other)]).c_str(),
           quote_cell(variable).c_str());
    }
    warn("Warning: %s line %ld column %ld: value heading '%s' differs from variable '%s'; it is read as that "
         "variable's column.\n",
         path.c_str(), line, column, found.c_str(), quote_cell(variable).c_str());
  }
  const std::size_t count = (fields.size() + 1) / 2;
  if (count != static_cast<std::size_t>(problem.nvar)) {
    mismatch(format_text(": %zu value heading%s for %d variables", count, count == 1 ? "" : "s", problem.nvar) +
             " (each variable needs a value and an uncertainty column)");
  }
}

// Reads the title and the heading line, checks the headings and counts the records.
void read_headings(Problem& problem, const std::string& path) {
  Scanner in(path);
  if (in.read_until(&problem.text, '\t', '\n') == 0) {
    fail("Error: %s line 1: the title cell is empty!\n", path.c_str());
  }
  if (in.skip_until('\n') > 0) in.skip_space();

  // The identifier heading is taken up to the next tab. When line 1 has no tab
  // after its title, its line end starts the heading.
  long line = in.line();
  int first = in.get();
  if (first == '\n') ++line;
  if (first >= 0 && first != '\t') {
    problem.xnavn.push_back(static_cast<char>(first));
    in.read_until(&problem.xnavn, '\t');
  }
  std::string headings;
  if (in.read_until(&headings, '\n') > 0) in.skip_space();
  check_headings(problem, path, line, problem.xnavn, headings);

  long count = in.count_lines();
  if (count > 0x7fffffffL) fail("Error: %s: too many records!\n", path.c_str());
  problem.nrec = static_cast<int>(count);
}

void create_tables(Problem& problem) {
  const std::size_t cells = static_cast<std::size_t>(problem.nrec) * static_cast<std::size_t>(problem.nvar);
  auto create = [](auto& table, std::size_t n, const char* message) {
    try {
      table.assign(n, {});
    } catch (const std::exception&) {
      fail("%s", message);
    }
  };
  create(problem.rawdata, cells, "No memory for rawdata. Reduce number of records.\n");
  create(problem.usik, cells, "No memory for usik. Reduce number of records.\n");
}

// A record line with too few or too many numbers. Where a cell of the line is
// empty, the message names its column (cells counted from 1 at tabs, the
// identifier's included): that is where a value went missing.
[[noreturn]] void fail_record(const Problem& problem, Scanner& in, long found) {
  const long line = in.line();
  const long expected = 2L * problem.nvar;
  std::string empty;
  if (found < expected) {
    const long column = first_empty_column(line_of(in.path(), line));
    if (column > 0) empty = "; column " + std::to_string(column) + " is empty";
  }
  fail("Error: %s line %ld: %ld number%s where %ld %s expected (a value and an uncertainty for each of %d "
       "variable%s)%s!\n",
       in.path().c_str(), line, found, found == 1 ? "" : "s", expected, expected == 1 ? "is" : "are", problem.nvar,
       problem.nvar == 1 ? "" : "s", empty.c_str());
}

// Reads the records, one per line: an identifier cell up to the first tab, then
// a value and an uncertainty per variable separated by blanks. The numbers of a
// record must stand on its own line: an empty cell may not pull in the next
// line's identifier as a number.
void read_records(Problem& problem, const std::string& path) {
  Scanner in(path);
  for (int skip = 0; skip < 2; ++skip) {
    if (in.skip_until('\n') > 0) in.skip_space();
  }
  problem.ids.clear();
  problem.id_end.clear();
  problem.id_end.reserve(static_cast<std::size_t>(problem.nrec));
  std::size_t cell = 0;
  float* rawdata = problem.rawdata.data();
  float* usik = problem.usik.data();
  for (int s = 0; s < problem.nrec; ++s) {
    in.skip_space();  // blank lines before the record
    in.read_until(&problem.ids, '\t', '\n');
    problem.id_end.push_back(problem.ids.size());
    in.skip_blanks();
    for (int v = 0; v < problem.nvar; ++v, ++cell) {
      if (in.at_line_end()) fail_record(problem, in, 2L * v);
      rawdata[cell] = static_cast<float>(in.read_double_on_line(true));
      if (in.at_line_end()) fail_record(problem, in, 2L * v + 1);
      usik[cell] = static_cast<float>(in.read_double_on_line(true));
    }
    if (!in.at_line_end()) {
      std::string rest;
      in.read_until(&rest, '\n');
      long extra = 0;
      bool in_cell = false;
      for (char c : rest) {
        const bool blank = c == ' ' || c == '\t' || c == '\v' || c == '\f';
        if (!blank && !in_cell) ++extra;
        in_cell = !blank;
      }
      fail_record(problem, in, 2L * problem.nvar + extra);
    }
  }
  problem.ids.shrink_to_fit();
}

}  // namespace

void read_data(Problem& problem, const std::string& path) {
  read_headings(problem, path);
  if (problem.nrec == 0) fail("Error: %s: no data records after the heading line!\n", path.c_str());
  create_tables(problem);
  read_records(problem, path);
}

std::string data_heading_text(const std::string& title, const std::string& id_heading,
                              const std::vector<std::string>& varnavn) {
  std::string text = title + "\t\n";
  // Tabs and line ends inside the identifier heading (a quoted cell) would break
  // the heading line.
  std::string heading = id_heading.empty() ? std::string("Sample") : id_heading;
  for (char& c : heading) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  text += heading;
  for (const std::string& name : varnavn) text += "\t" + name + "\tu(" + name + ")";
  text += '\n';
  return text;
}

void append_data_record(std::string& out, std::string_view id, const float* values, const float* uncertainties,
                        const std::vector<int>& columns) {
  out.append(id);
  for (int c : columns) {
    out += '\t';
    append_float(out, values[c]);
    out += '\t';
    append_float(out, uncertainties[c]);
  }
  out += '\n';
}

void append_float(std::string& out, float value) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  double back = 0.0;
  std::from_chars(buf, end, back);
  if (static_cast<float>(back) != value) {
    // The decimal lies so near the midpoint of two floats that reading it through a
    // double would round the other way: write the float's exact double instead.
    end = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value)).ptr;
  }
  out.append(buf, end);
}
