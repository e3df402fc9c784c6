#include "prepare/known_profiles.h"

#include <charconv>
#include <cmath>
#include <map>

#include "control/failure.h"
#include "measured/delimited_reader.h"
#include "measured/measured_table.h"

void read_known_profiles(const std::string& path, char delimiter, bool hold_zeros,
                         const std::vector<Species>& species, FitFiles* files) {
  DelimitedReader in(path, delimiter);
  DelimitedRow row;
  bool have = false;
  while ((have = in.next(&row)) && row.blank()) {
  }
  if (!have) fail("Error: %s: the file holds no heading row!\n", path.c_str());
  std::size_t used = row.cells.size();
  while (used > 1 && trim(row.cells[used - 1]).empty()) --used;
  files->factors.clear();
  for (std::size_t c = 1; c < used; ++c) {
    std::string name(trim(row.cells[c]));
    if (name.empty() || name.find_first_of("\t\r\n") != std::string::npos) {
      fail("Error: %s line %ld column %zu: a source name must be neither empty nor hold a tab or line end!\n",
           path.c_str(), row.line, c + 1);
    }
    files->factors.push_back(name);
  }
  const std::size_t k = files->factors.size();
  if (k == 0) fail("Error: %s line %ld: no source columns after the first!\n", path.c_str(), row.line);
  if (k > 20) fail("Error: %s line %ld: %zu sources; the fit takes at most 20!\n", path.c_str(), row.line, k);

  std::map<std::string, std::vector<double>, std::less<>> rows;
  std::map<std::string, long, std::less<>> lines;  // each species' row
  while (in.next(&row)) {
    if (row.blank()) continue;
    std::size_t cells = row.cells.size();
    while (cells > k + 1 && trim(row.cells[cells - 1]).empty()) --cells;
    if (cells != k + 1) {
      fail("Error: %s line %ld: %zu cells, but the heading row names %zu sources!\n", path.c_str(), row.line, cells,
           k);
    }
    std::vector<double> numbers;
    for (std::size_t c = 1; c <= k; ++c) {
      std::string_view cell = trim(row.cells[c]);
      double value = 0.0;
      auto [ptr, ec] = std::from_chars(cell.data(), cell.data() + cell.size(), value);
      if (cell.empty() || ec != std::errc() || ptr != cell.data() + cell.size() || !std::isfinite(value) ||
          value < 0) {
        fail("Error: %s line %ld column %zu: '%s' is not a number of at least zero!\n", path.c_str(), row.line, c + 1,
             quote_cell(cell).c_str());
      }
      numbers.push_back(value);
    }
    std::string name(trim(row.cells[0]));
    auto [at, fresh] = lines.try_emplace(name, row.line);
    if (!fresh) {
      fail("Error: %s line %ld: a second row for the species %s (the first is on line %ld)!\n", path.c_str(), row.line,
           quote_cell(name).c_str(), at->second);
    }
    rows[name] = numbers;
  }

  files->p.clear();
  files->fp.clear();
  std::string absent;
  for (const Species& s : species) {
    if (s.category == Category::bad) continue;
    auto it = rows.find(s.name);
    if (it == rows.end()) {
      absent += (absent.empty() ? "" : ", ") + s.name;
      continue;
    }
    for (double value : it->second) {
      files->p.push_back(value);
      files->fp.push_back(hold_zeros && value == 0.0 ? 0 : 1);
    }
  }
  if (!absent.empty()) fail("Error: %s: no profile row for the species %s!\n", path.c_str(), absent.c_str());
}
