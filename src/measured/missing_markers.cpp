#include "measured/missing_markers.h"

#include <cstdio>
#include <map>

#include "control/failure.h"

bool looks_like_marker(std::string_view cell) {
  cell = trim(cell);
  static const char* const kMarkers[] = {"BDL", "BLD", "<MDL", "<DL", "<LOD", "<LD", "<LOQ", "MDL", "LOD", "LOQ",
                                         "N.D.", "N.D", "N/D", "N/A", "N.A.", "NR", "N.R.", "-", "--", "---"};
  for (const char* marker : kMarkers) {
    if (same_letters(cell, marker)) return true;
  }
  return false;
}

void check_marker_values(const MeasuredTable& t, const std::vector<int>& columns) {
  for (int j : columns) {
    const std::size_t col = static_cast<std::size_t>(j);
    std::map<float, std::pair<long, long>> seen;  // value: (cells, first line)
    for (int s = 0; s < t.nsamples(); ++s) {
      const float x = t.row(s)[col];
      if (!(x <= -9.0f)) continue;
      ++seen.try_emplace(x, 0, t.lines[static_cast<std::size_t>(s)]).first->second.first;
    }
    for (const auto& [value, where] : seen) {
      if (where.first < 2) continue;
      char shown[32];
      std::snprintf(shown, sizeof shown, "%g", static_cast<double>(value));
      fail("Error: %s line %ld, species %s: the value %s is in %ld cells; a value repeated at or below -9 marks "
           "missing values, and would be fitted as a measurement. Give --missing-marker %s to read those cells as "
           "missing!\n",
           t.path.c_str(), where.second, quote_cell(t.species[col]).c_str(), shown, where.first, shown);
    }
  }
}
