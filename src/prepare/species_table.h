// The species table: per species its category in the fit, its signal-to-noise
// ratio, how much of it is missing or below detection, its range, and a suggested
// category that is never applied by itself.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "measured/measured_table.h"

enum class Category { strong, weak, bad, total };

const char* category_name(Category c);

struct Species {
  std::string name;             ///< full name, as in the measured tables
  std::string fit_name;         ///< name in the fit's files: cut to 19 characters
  int column = 0;               ///< index of the species in the measured tables
  Category category = Category::strong;
  double signal_to_noise = 0.0; ///< mean over present values of (x - u) / u where x > u, else 0
  double share_missing = 0.0;   ///< share of samples whose value is missing
  double share_below = -1.0;    ///< share of present values at or below the detection limit; < 0: no limits
  double minimum = 0.0, median = 0.0, maximum = 0.0;  ///< over present values
  Category suggested = Category::strong;  ///< weak below S/N 1, bad below 0.5
  std::string unit;             ///< from its heading or --unit; "" when not known
};

// Length to which the fit cuts variable names.
constexpr std::size_t kFitNameLength = 19;

// The species of `values`, with categories from the --bad, --weak and --total names
// (matched in full; an unknown name fails, listing it) and names for the fit cut to
// 19 characters (two species whose cut names agree fail, listing the clash).
std::vector<Species> classify_species(const MeasuredTable& values, const std::vector<std::string>& bad,
                                      const std::vector<std::string>& weak, const std::string& total);

// Gives each species its unit: the one its heading in the values' table gives, else
// the one in the uncertainties' heading (`from_uncertainties` may be empty), else
// from `given`, the --unit options: "NAME=UNIT" for one species, a plain "UNIT" for
// every species without one. A --unit that names an unknown species, or gives a
// species another unit than its heading, fails.
void assign_units(std::vector<Species>& species, const std::vector<std::string>& from_values,
                  const std::vector<std::string>& from_uncertainties, const std::vector<std::string>& given);

// Fills the statistics of every species from the values and their uncertainties
// (NaN marks a missing cell); `mdl` per species, empty without detection limits.
void describe_species(std::vector<Species>& species, const MeasuredTable& values, const MeasuredTable& uncertainties,
                      const std::vector<double>& mdl);

// Writes the table with tab-separated cells (species.tsv) or aligned for the console;
// a last column "unit" when any species has one.
void write_species_table(const std::vector<Species>& species, std::FILE* out, bool aligned);
