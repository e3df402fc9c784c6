#include "measured/measured_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "control/failure.h"
#include "control/text_format.h"
#include "measured/delimited_reader.h"
#include "measured/species_unit.h"
#include "measured/missing_markers.h"

namespace {

std::string show(std::string_view text) { return quote_cell(text); }

const char* delimiter_name(char delimiter) {
  return delimiter == '\t' ? "tab" : delimiter == ';' ? "semicolon" : "comma";
}

// The detail line of a heading row that is one cell: the delimiter it was split
// at, and the one it seems to use instead.
std::string delimiter_detail(std::string_view heading, char used) {
  const char candidates[] = {'\t', ';', ','};
  char seen = '\0';
  std::size_t most = 0;
  for (char c : candidates) {
    const auto n = static_cast<std::size_t>(std::count(heading.begin(), heading.end(), c));
    if (c != used && n > most) most = n, seen = c;
  }
  if (seen == '\0') return "";
  const char* plural = most == 1 ? delimiter_name(seen) : seen == '\t' ? "tabs" : seen == ';' ? "semicolons" : "commas";
  const char* singular = delimiter_name(used);
  return format_text("The delimiter was %s (--delimiter %s), but the heading row holds %zu %s and no %s: the file "
                     "seems %s-separated (--delimiter %s).\n",
                     singular, delimiter_name(used), most, plural, singular, delimiter_name(seen), delimiter_name(seen));
}

// Heading row: the identifier heading, then the species names; empty cells at the
// end are spreadsheet padding.
void read_heading(const DelimitedRow& row, MeasuredTable* t) {
  std::size_t used = row.cells.size();
  while (used > 1 && trim(row.cells[used - 1]).empty()) --used;
  t->id_heading = std::string(trim(row.cells[0]));
  for (std::size_t c = 1; c < used; ++c) {
    std::string_view name = trim(row.cells[c]);
    if (name.empty()) {
      fail("Error: %s line %ld column %zu: the species name is empty!\n", t->path.c_str(), row.line, c + 1);
    }
    NameAndUnit split = split_unit(name);
    t->species.push_back(std::move(split.name));
    t->units.push_back(std::move(split.unit));
    t->species_column.push_back(static_cast<long>(c + 1));
  }
  if (t->species.empty()) {
    fail("Error: %s line %ld: no species columns after the first!\n%s", t->path.c_str(), row.line,
         delimiter_detail(row.cells[0], t->delimiter).c_str());
  }
}

bool same_species_set(const MeasuredTable& t, const MeasuredTable& pattern) {
  std::vector<std::string> mine = t.species, theirs = pattern.species;
  std::sort(mine.begin(), mine.end());
  std::sort(theirs.begin(), theirs.end());
  return mine == theirs && std::adjacent_find(mine.begin(), mine.end()) == mine.end();
}

// The species must be the pattern's, in its order; with `any_order` (while the
// table is read, before match_species_order puts them in order) the same species
// in another order pass too.
// A species given a unit in both tables must have the same unit in both; found by name,
// so it holds for the same species in another order too.
void check_units(const MeasuredTable& t, const MeasuredTable& pattern, long line) {
  for (std::size_t j = 0; j < t.species.size() && j < t.units.size(); ++j) {
    const auto at = std::find(pattern.species.begin(), pattern.species.end(), t.species[j]);
    if (at == pattern.species.end()) continue;
    const std::string& theirs = pattern.units[static_cast<std::size_t>(at - pattern.species.begin())];
    if (!t.units[j].empty() && !theirs.empty() && t.units[j] != theirs) {
      fail("Error: %s line %ld column %zu: species '%s' in %s where %s has it in %s!\n", t.path.c_str(), line,
           static_cast<std::size_t>(t.species_column[j]), show(t.species[j]).c_str(), show(t.units[j]).c_str(),
           pattern.path.c_str(), show(theirs).c_str());
    }
  }
}

void check_heading(const MeasuredTable& t, const MeasuredTable& pattern, long line, bool any_order) {
  if (any_order && same_species_set(t, pattern)) {
    check_units(t, pattern, line);
    return;
  }
  std::size_t n = std::max(t.species.size(), pattern.species.size());
  for (std::size_t j = 0; j < n; ++j) {
    std::string mine = j < t.species.size() ? t.species[j] : std::string("(none)");
    std::string theirs = j < pattern.species.size() ? pattern.species[j] : std::string("(none)");
    if (mine != theirs) {
      fail("Error: %s line %ld column %zu: species '%s' where %s has '%s'; both tables must hold the same species "
           "in the same order!\n",
           t.path.c_str(), line, j + 2, show(mine).c_str(), pattern.path.c_str(), show(theirs).c_str());
    }
    if (!t.units[j].empty() && !pattern.units[j].empty() && t.units[j] != pattern.units[j]) {
      fail("Error: %s line %ld column %zu: species '%s' in %s where %s has it in %s!\n", t.path.c_str(), line, j + 2,
           show(mine).c_str(), show(t.units[j]).c_str(), pattern.path.c_str(), show(pattern.units[j]).c_str());
    }
  }
}

// Sample s of a table read against `pattern` must be the pattern's sample s.
void check_sample(const std::string& path, std::size_t s, std::string_view id, long line,
                  const MeasuredTable& pattern) {
  if (s >= static_cast<std::size_t>(pattern.nsamples())) {
    fail("Error: %s line %ld column 1: sample '%s' lies beyond the last sample of %s (line %ld)!\n", path.c_str(), line,
         show(id).c_str(), pattern.path.c_str(), pattern.lines.back());
  }
  std::string_view theirs = pattern.id(static_cast<int>(s));
  if (id != theirs) {
    fail("Error: %s line %ld column 1: sample '%s' where %s line %ld has '%s'; both tables must hold the same "
         "samples in the same order!\n",
         path.c_str(), line, show(id).c_str(), pattern.path.c_str(), pattern.lines[s], show(theirs).c_str());
  }
}

void check_count(const MeasuredTable& t, const MeasuredTable& pattern) {
  if (t.nsamples() != pattern.nsamples()) {
    fail("Error: %s ends after %d samples (line %ld), but %s has %d (line %ld)!\n", t.path.c_str(), t.nsamples(),
         t.lines.back(), pattern.path.c_str(), pattern.nsamples(), pattern.lines.back());
  }
}

}  // namespace

void check_same_shape(const MeasuredTable& t, const MeasuredTable& pattern) {
  check_heading(t, pattern, t.heading_line, false);
  const std::size_t n = static_cast<std::size_t>(t.nsamples());
  for (std::size_t s = 0; s < n; ++s) check_sample(t.path, s, t.id(static_cast<int>(s)), t.lines[s], pattern);
  check_count(t, pattern);
}

bool same_letters(std::string_view cell, std::string_view word) {
  if (cell.size() != word.size()) return false;
  for (std::size_t i = 0; i < cell.size(); ++i) {
    char c = cell[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != word[i]) return false;
  }
  return true;
}

std::string_view trim(std::string_view cell) {
  while (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t')) cell.remove_prefix(1);
  while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\t')) cell.remove_suffix(1);
  return cell;
}

bool MissingMarkers::marks_missing(std::string_view cell) const {
  cell = trim(cell);
  if (cell.empty() || same_letters(cell, "NA") || same_letters(cell, "NAN") || same_letters(cell, "ND")) return true;
  for (const std::string& marker : extra) {
    if (cell == trim(marker)) return true;
  }
  float value = 0.0f;
  return parse_measured(cell, '\0', &value) && value == -999.0f;
}

bool match_species_order(MeasuredTable& t, const MeasuredTable& pattern) {
  if (t.species == pattern.species || !same_species_set(t, pattern)) return false;
  const std::size_t n = t.species.size();
  std::vector<std::size_t> from(n);
  for (std::size_t j = 0; j < n; ++j) {
    from[j] = static_cast<std::size_t>(std::find(t.species.begin(), t.species.end(), pattern.species[j]) -
                                       t.species.begin());
  }
  std::vector<float> row(n);
  for (std::vector<float>& block : t.blocks) {
    for (std::size_t at = 0; at + n <= block.size(); at += n) {
      for (std::size_t j = 0; j < n; ++j) row[j] = block[at + from[j]];
      std::copy(row.begin(), row.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
    }
  }
  std::vector<long> columns(n);
  for (std::size_t j = 0; j < n; ++j) columns[j] = t.species_column[from[j]];
  std::vector<std::string> units(n);
  for (std::size_t j = 0; j < n; ++j) units[j] = t.units[from[j]];
  t.species = pattern.species;
  t.species_column = columns;
  t.units = units;
  return true;
}

void drop_samples(MeasuredTable& t, const std::vector<char>& drop) {
  MeasuredTable kept;
  kept.path = t.path;
  kept.delimiter = t.delimiter;
  kept.heading_line = t.heading_line;
  kept.id_heading = t.id_heading;
  kept.species = t.species;
  kept.species_column = t.species_column;
  kept.block_rows = t.block_rows;
  const std::size_t n = t.species.size();
  const bool with_ids = !t.ids.empty();
  std::size_t s_out = 0;
  for (int s = 0; s < t.nsamples(); ++s) {
    if (drop[static_cast<std::size_t>(s)] != 0) continue;
    if (s_out % kept.block_rows == 0) kept.blocks.emplace_back();
    const float* row = t.row(s);
    kept.blocks.back().insert(kept.blocks.back().end(), row, row + n);
    if (with_ids) kept.ids.append(t.id(s));
    kept.id_end.push_back(kept.ids.size());
    if (!t.lines.empty()) kept.lines.push_back(t.lines[static_cast<std::size_t>(s)]);
    ++s_out;
  }
  t = std::move(kept);
}

bool parse_measured(std::string_view cell, char delimiter, float* value) {
  cell = trim(cell);
  if (!cell.empty() && cell.front() == '+') cell.remove_prefix(1);
  if (cell.empty() || cell.front() == '+' || cell.front() == ' ') return false;
  char comma_copy[64];
  if (delimiter == ';' && cell.size() < sizeof comma_copy && cell.find(',') != std::string_view::npos &&
      cell.find('.') == std::string_view::npos) {
    std::size_t n = 0;
    for (char c : cell) comma_copy[n++] = c == ',' ? '.' : c;
    cell = std::string_view(comma_copy, n);
  }
  double d = 0.0;
  auto [ptr, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), d, std::chars_format::general);
  if (ec != std::errc() || ptr != cell.data() + cell.size() || !std::isfinite(d)) return false;
  if (std::fabs(d) > static_cast<double>(std::numeric_limits<float>::max())) return false;
  *value = static_cast<float>(d);
  return true;
}

MeasuredTable read_measured(const std::string& path, char delimiter, const MissingMarkers& missing,
                            const MeasuredTable* pattern) {
  MeasuredTable t;
  t.path = path;
  DelimitedReader in(path, delimiter);
  DelimitedRow row;
  bool have = false;
  while ((have = in.next(&row)) && row.blank()) {
  }
  if (!have) fail("Error: %s: the file holds no heading row!\n", path.c_str());
  t.delimiter = in.delimiter();
  t.heading_line = row.line;
  read_heading(row, &t);
  if (pattern != nullptr) check_heading(t, *pattern, row.line, true);

  const std::size_t nspecies = t.species.size();
  t.block_rows = std::max<std::size_t>(1, (std::size_t{1} << 18) / nspecies);
  const std::size_t width = static_cast<std::size_t>(t.species_column.back());
  const float missing_value = std::numeric_limits<float>::quiet_NaN();
  // Named markers that are numbers mark every cell of that number.
  std::vector<float> named_values;
  for (const std::string& marker : missing.extra) {
    float v = 0.0f;
    if (parse_measured(marker, '\0', &v)) named_values.push_back(v);
  }
  auto named = [&](float v) { return std::find(named_values.begin(), named_values.end(), v) != named_values.end(); };
  // The first unnamed marker text (see looks_like_marker): refused after the
  // whole table is read, with the count of its cells in that species.
  struct Unnamed {
    std::string text;
    long line = 0;
    std::size_t species = 0;
    long cells = 0;
  } unnamed;
  std::size_t s = 0;
  while (in.next(&row)) {
    if (row.blank()) continue;
    if (row.cells.size() < width) {
      fail("Error: %s line %ld: %zu cells, but the heading row has %zu!\n", path.c_str(), row.line, row.cells.size(),
           width);
    }
    for (std::size_t c = width; c < row.cells.size(); ++c) {
      if (!trim(row.cells[c]).empty()) {
        fail("Error: %s line %ld column %zu: '%s' lies beyond the last species column!\n", path.c_str(), row.line,
             c + 1, show(row.cells[c]).c_str());
      }
    }
    std::string_view id = trim(row.cells[0]);
    if (id.empty()) fail("Error: %s line %ld: the sample identifier is empty!\n", path.c_str(), row.line);
    if (id.find_first_of("\t\r\n") != std::string_view::npos) {
      fail("Error: %s line %ld: the sample identifier '%s' holds a tab or a line end!\n", path.c_str(), row.line,
           show(id).c_str());
    }
    if (pattern != nullptr) {
      check_sample(path, s, id, row.line, *pattern);
    } else {
      t.ids.append(id);
    }
    t.id_end.push_back(t.ids.size());
    t.lines.push_back(row.line);
    if (s % t.block_rows == 0) {
      t.blocks.emplace_back();
      // The first block grows as needed (a small table stays small); later ones
      // are made whole at once.
      if (s > 0) t.blocks.back().reserve(t.block_rows * nspecies);
    }
    std::vector<float>& values = t.blocks.back();
    for (std::size_t j = 0; j < nspecies; ++j) {
      std::string_view cell = row.cells[static_cast<std::size_t>(t.species_column[j]) - 1];
      float value = 0.0f;
      const bool number = parse_measured(cell, t.delimiter, &value);
      if (number && value != -999.0f && !named(value)) {
        values.push_back(value);
      } else if (number || missing.marks_missing(cell)) {
        values.push_back(missing_value);
      } else if (looks_like_marker(cell)) {
        if (unnamed.line == 0) unnamed = Unnamed{std::string(trim(cell)), row.line, j, 0};
        if (unnamed.species == j && trim(cell) == unnamed.text) ++unnamed.cells;
        values.push_back(missing_value);
      } else {
        fail("Error: %s line %ld, species %s: '%s' is not a number!\n", path.c_str(), row.line,
             show(t.species[j]).c_str(), show(cell).c_str());
      }
    }
    ++s;
  }
  if (s == 0) fail("Error: %s: no sample rows after the heading row!\n", path.c_str());
  if (unnamed.line != 0) {
    const std::string text = show(unnamed.text);
    const std::string species = show(t.species[unnamed.species]);
    fail("Error: %s line %ld, species %s: '%s' is not a number!\n'%s' looks like a missing-value marker: %ld %s of "
         "species %s %s it. Give --missing-marker '%s' to read %s as missing.\n",
         path.c_str(), unnamed.line, species.c_str(), text.c_str(), text.c_str(), unnamed.cells,
         unnamed.cells == 1 ? "cell" : "cells", species.c_str(), unnamed.cells == 1 ? "holds" : "hold", text.c_str(),
         unnamed.cells == 1 ? "it" : "them");
  }
  if (pattern != nullptr) check_count(t, *pattern);
  t.blocks.back().shrink_to_fit();
  return t;
}
