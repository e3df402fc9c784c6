#include "prepare/species_table.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "control/failure.h"
#include "control/text_format.h"
#include "formats/number_text.h"

namespace {

std::string join(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

const char* category_name(Category c) {
  switch (c) {
    case Category::strong:
      return "strong";
    case Category::weak:
      return "weak";
    case Category::bad:
      return "bad";
    case Category::total:
      return "total";
  }
  return "";
}

std::vector<Species> classify_species(const MeasuredTable& values, const std::vector<std::string>& bad,
                                      const std::vector<std::string>& weak, const std::string& total) {
  std::vector<Species> species;
  std::map<std::string, int, std::less<>> index;
  for (int j = 0; j < values.nspecies(); ++j) {
    const std::string& name = values.species[static_cast<std::size_t>(j)];
    if (index.count(name) != 0) fail("Error: %s: the species %s appears twice!\n", values.path.c_str(), name.c_str());
    if (name.find_first_of("\t\r\n") != std::string::npos) {
      fail("Error: %s: the species name '%s' holds a tab or a line end!\n", values.path.c_str(),
           quote_cell(name).c_str());
    }
    index[name] = j;
    Species s;
    s.name = name;
    s.column = j;
    s.fit_name = name.substr(0, kFitNameLength);
    while (!s.fit_name.empty() && s.fit_name.back() == ' ') s.fit_name.pop_back();
    species.push_back(s);
  }
  std::vector<std::string> unknown;
  auto mark = [&](const std::string& name, Category c) {
    auto it = index.find(name);
    if (it == index.end()) {
      unknown.push_back(name);
    } else {
      species[static_cast<std::size_t>(it->second)].category = c;
    }
  };
  for (const std::string& name : weak) mark(name, Category::weak);
  if (!total.empty()) mark(total, Category::total);
  for (const std::string& name : bad) mark(name, Category::bad);
  if (!unknown.empty()) {
    fail("Error: no species named %s in %s (names are matched in full)!\n", join(unknown).c_str(),
         values.path.c_str());
  }

  // The fit tells variables apart by their first 19 characters.
  std::map<std::string, std::vector<std::string>> by_fit_name;
  for (const Species& s : species) {
    if (s.category != Category::bad) by_fit_name[s.fit_name].push_back(s.name);
  }
  std::string clashes;
  for (const auto& [fit_name, names] : by_fit_name) {
    if (names.size() > 1) clashes += (clashes.empty() ? "" : "; ") + join(names) + " (all '" + fit_name + "')";
  }
  if (!clashes.empty()) {
    fail("Error: species names must differ within their first %zu characters, which is all the fit keeps: %s. "
         "Rename them in the tables or leave some out with --bad!\n",
         kFitNameLength, clashes.c_str());
  }
  return species;
}

void assign_units(std::vector<Species>& species, const std::vector<std::string>& from_values,
                  const std::vector<std::string>& from_uncertainties, const std::vector<std::string>& given) {
  for (Species& s : species) {
    const auto j = static_cast<std::size_t>(s.column);
    s.unit = j < from_values.size() ? from_values[j] : std::string();
    if (s.unit.empty() && j < from_uncertainties.size()) s.unit = from_uncertainties[j];
  }
  std::string everyone;
  for (const std::string& option : given) {
    const std::size_t equals = option.find('=');
    if (equals == std::string::npos) {
      everyone = option;
      continue;
    }
    const std::string name = option.substr(0, equals);
    const std::string unit = option.substr(equals + 1);
    auto it = std::find_if(species.begin(), species.end(), [&](const Species& s) { return s.name == name; });
    if (it == species.end()) fail("Error: --unit %s: no species named %s!\n", option.c_str(), name.c_str());
    if (!it->unit.empty() && it->unit != unit) {
      fail("Error: --unit %s: the heading of %s gives the unit %s!\n", option.c_str(), name.c_str(),
           it->unit.c_str());
    }
    it->unit = unit;
  }
  for (Species& s : species) {
    if (s.unit.empty()) s.unit = everyone;
  }
}

void describe_species(std::vector<Species>& species, const MeasuredTable& values, const MeasuredTable& uncertainties,
                      const std::vector<double>& mdl) {
  const int n = values.nsamples();
  std::vector<float> present;
  present.reserve(static_cast<std::size_t>(n));
  for (Species& sp : species) {
    const std::size_t j = static_cast<std::size_t>(sp.column);
    double sn = 0.0;
    long below = 0;
    present.clear();
    for (int s = 0; s < n; ++s) {
      const float x = values.row(s)[j];
      const float u = uncertainties.row(s)[j];
      if (std::isnan(x) || std::isnan(u)) continue;
      present.push_back(x);
      const double xd = static_cast<double>(x);
      const double ud = static_cast<double>(u);
      if (xd > ud) sn += (xd - ud) / ud;
      if (!mdl.empty() && xd <= mdl[j]) ++below;
    }
    const double count = static_cast<double>(present.size());
    sp.share_missing = n > 0 ? (static_cast<double>(n) - count) / static_cast<double>(n) : 0.0;
    if (present.empty()) {
      sp.signal_to_noise = 0.0;
      sp.minimum = sp.median = sp.maximum = std::nan("");
    } else {
      sp.signal_to_noise = sn / count;
      // The median by selection, not a full sort: a species may have millions of values.
      const std::size_t k = present.size();
      auto middle = present.begin() + static_cast<std::ptrdiff_t>(k / 2);
      std::nth_element(present.begin(), middle, present.end());
      const double upper = static_cast<double>(*middle);
      if (k % 2 == 1) {
        sp.median = upper;
      } else {
        const double lower = static_cast<double>(*std::max_element(present.begin(), middle));
        sp.median = (lower + upper) / 2.0;
      }
      const auto [lowest, highest] = std::minmax_element(present.begin(), present.end());
      sp.minimum = static_cast<double>(*lowest);
      sp.maximum = static_cast<double>(*highest);
    }
    sp.share_below = mdl.empty() ? -1.0 : (count > 0 ? static_cast<double>(below) / count : 0.0);
    sp.suggested = sp.signal_to_noise < 0.5 ? Category::bad
                   : sp.signal_to_noise < 1.0 ? Category::weak
                                              : Category::strong;
  }
}

void write_species_table(const std::vector<Species>& species, std::FILE* out, bool aligned) {
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"species", "name in fit", "category", "S/N", "missing", "below MDL", "minimum", "median", "maximum",
                  "suggested"});
  const bool units = std::any_of(species.begin(), species.end(), [](const Species& s) { return !s.unit.empty(); });
  if (units) rows.back().emplace_back("unit");
  for (const Species& s : species) {
    auto number = [](double x) {
      if (std::isnan(x)) return std::string("-");
      char buf[kNumberTextSize];
      return std::string(buf, format_lg(buf, x));
    };
    std::vector<std::string> row{s.name, s.category == Category::bad ? std::string("-") : s.fit_name,
                                 category_name(s.category)};
    row.push_back(format_text("%.2f", s.signal_to_noise));
    row.push_back(format_text("%.3f", s.share_missing));
    if (s.share_below < 0) {
      row.emplace_back("-");
    } else {
      row.push_back(format_text("%.3f", s.share_below));
    }
    row.push_back(number(s.minimum));
    row.push_back(number(s.median));
    row.push_back(number(s.maximum));
    row.emplace_back(category_name(s.suggested));
    if (units) row.push_back(s.unit.empty() ? std::string("-") : s.unit);
    rows.push_back(row);
  }
  std::vector<std::size_t> width(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (aligned) {
        line += row[c];
        if (c + 1 < row.size()) line.append(width[c] - row[c].size() + 2, ' ');
      } else {
        line += row[c];
        if (c + 1 < row.size()) line += '\t';
      }
    }
    line += '\n';
    std::fputs(line.c_str(), out);
  }
}
