#include "prepare/sample_checks.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string_view>

#include "control/failure.h"
#include "formats/name_check.h"

void check_unique_samples(const MeasuredTable& values) {
  // Sorted by identifier (an index each, so a huge table costs little memory);
  // of the identifiers that repeat, the one whose second row comes first is named.
  std::vector<int> order(static_cast<std::size_t>(values.nsamples()));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return values.id(a) < values.id(b); });
  int first = -1, second = -1;
  for (std::size_t k = 1; k < order.size(); ++k) {
    const bool repeats = values.id(order[k]) == values.id(order[k - 1]);
    const bool opens = k < 2 || values.id(order[k - 1]) != values.id(order[k - 2]);
    if (repeats && opens && (second < 0 || order[k] < second)) first = order[k - 1], second = order[k];
  }
  if (second < 0) return;
  fail("Error: %s line %ld: the sample '%s' appears twice (first on line %ld); the result table could not tell them "
       "apart!\n",
       values.path.c_str(), values.lines[static_cast<std::size_t>(second)], quote_cell(values.id(second)).c_str(),
       values.lines[static_cast<std::size_t>(first)]);
}

void drop_unmeasured_samples(const std::vector<Species>& species, MeasuredTable& values, MeasuredTable& u) {
  std::vector<char> drop(static_cast<std::size_t>(values.nsamples()), 0);
  bool any = false;
  for (int s = 0; s < values.nsamples(); ++s) {
    bool measured = false;
    for (const Species& sp : species) {
      if (sp.category == Category::bad) continue;
      const std::size_t j = static_cast<std::size_t>(sp.column);
      if (!std::isnan(values.row(s)[j]) && !std::isnan(u.row(s)[j])) measured = true;
    }
    if (!measured) {
      warn("Warning: %s line %ld: the sample '%s' has no measured value of a species in the fit; it is left out.\n",
           values.path.c_str(), values.lines[static_cast<std::size_t>(s)], quote_cell(values.id(s)).c_str());
      drop[static_cast<std::size_t>(s)] = 1;
      any = true;
    }
  }
  if (!any) return;
  drop_samples(values, drop);
  drop_samples(u, drop);
}

bool names_a_total(const std::string& name) {
  std::string key;
  for (char c : name) {
    if (c == ' ' || c == '.' || c == '-' || c == '_') continue;
    key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  static const char* const kTotals[] = {"pm25", "pm10", "pm1", "mass", "pmmass", "pm25mass", "pm10mass",
                                        "totalmass", "tnmoc", "total", "tsp"};
  for (const char* total : kTotals) {
    if (key == total) return true;
  }
  return false;
}

void warn_unnamed_totals(const std::vector<Species>& species, const std::string& path) {
  for (const Species& sp : species) {
    if (sp.category == Category::bad || !names_a_total(sp.name)) continue;
    warn("Warning: %s: the species %s reads as a total; without --total %s it is fitted as a strong species and can "
         "pull the factors towards itself.\n",
         path.c_str(), sp.name.c_str(), sp.name.c_str());
  }
}
