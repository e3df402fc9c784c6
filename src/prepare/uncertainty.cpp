#include "prepare/uncertainty.h"

#include <cmath>
#include <map>

#include "control/failure.h"
#include "measured/delimited_reader.h"
#include "measured/measured_table.h"

float mdl_uncertainty(float value, const DetectionLimit& limit) {
  const double x = static_cast<double>(value);
  if (x <= limit.mdl) return static_cast<float>(5.0 / 6.0 * limit.mdl);
  const double relative = limit.fraction * x;
  const double floor = 0.5 * limit.mdl;
  return static_cast<float>(std::sqrt(relative * relative + floor * floor));
}

std::vector<DetectionLimit> read_detection_limits(const std::string& path, char delimiter,
                                                  const std::vector<std::string>& species) {
  DelimitedReader in(path, delimiter);
  DelimitedRow row;
  std::map<std::string, DetectionLimit, std::less<>> limits;
  std::map<std::string, long, std::less<>> lines;  // each species' row
  bool first = true;
  while (in.next(&row)) {
    if (row.blank()) continue;
    std::size_t used = row.cells.size();
    while (used > 0 && trim(row.cells[used - 1]).empty()) --used;
    float mdl = 0.0f, fraction = 0.0f;
    bool numbers = used >= 3 && parse_measured(row.cells[1], in.delimiter(), &mdl) &&
                   parse_measured(row.cells[2], in.delimiter(), &fraction);
    if (first && (used < 2 || !parse_measured(row.cells[1], in.delimiter(), &mdl))) {
      first = false;
      continue;
    }
    first = false;
    if (used != 3 || !numbers) {
      fail("Error: %s line %ld: a row needs a species name, a detection limit and an error fraction!\n", path.c_str(),
           row.line);
    }
    std::string name(trim(row.cells[0]));
    if (!(mdl > 0.0f) || fraction < 0.0f) {
      fail("Error: %s line %ld, species %s: the detection limit must be above zero and the error fraction at least "
           "zero!\n",
           path.c_str(), row.line, quote_cell(name).c_str());
    }
    auto [at, fresh] = lines.try_emplace(name, row.line);
    if (!fresh) {
      fail("Error: %s line %ld: a second row for the species %s (the first is on line %ld)!\n", path.c_str(), row.line,
           quote_cell(name).c_str(), at->second);
    }
    limits[name] = DetectionLimit{static_cast<double>(mdl), static_cast<double>(fraction)};
  }
  std::vector<DetectionLimit> out;
  std::string absent;
  for (const std::string& name : species) {
    auto it = limits.find(name);
    if (it == limits.end()) {
      absent += absent.empty() ? "" : ", ";
      absent += name;
    } else {
      out.push_back(it->second);
    }
  }
  if (!absent.empty()) fail("Error: %s: no detection limit for %s!\n", path.c_str(), absent.c_str());
  return out;
}
