#include "prepare/prepared_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "control/failure.h"
#include "formats/name_check.h"
#include "measured/missing_markers.h"
#include "platform/files.h"
#include "prepare/known_profiles.h"
#include "prepare/sample_checks.h"
#include "prepare/sample_dates.h"
#include "start/starting_model.h"
#include "prepare/uncertainty.h"

namespace {

// Uncertainties from detection limits, in a table shaped like the values.
MeasuredTable uncertainties_from_limits(const MeasuredTable& values, const std::vector<DetectionLimit>& limits) {
  MeasuredTable u;
  u.path = values.path;
  u.species = values.species;
  u.units = values.units;
  u.species_column = values.species_column;
  u.block_rows = values.block_rows;
  u.id_end.assign(values.id_end.size(), 0);
  const std::size_t nspecies = values.species.size();
  for (const std::vector<float>& block : values.blocks) {
    std::vector<float> out(block.size());
    for (std::size_t cell = 0; cell < block.size(); ++cell) {
      const float x = block[cell];
      out[cell] = std::isnan(x) ? x : mdl_uncertainty(x, limits[cell % nspecies]);
    }
    u.blocks.push_back(std::move(out));
  }
  return u;
}

// Turns the measured cells into the cells the fit reads: a missing value (or
// uncertainty) becomes the species median with uncertainty 0 (left out), or with
// --missing median four times the median; weak and total species get three times
// their uncertainty. A measured value with an uncertainty not above zero fails.
void settle_cells(const std::vector<Species>& species, bool median_for_missing, MeasuredTable& values,
                  MeasuredTable& u, const std::string& uncertainty_path) {
  for (const Species& sp : species) {
    if (sp.category == Category::bad) continue;
    const std::size_t j = static_cast<std::size_t>(sp.column);
    const float median = static_cast<float>(sp.median);
    const float median_u = median_for_missing ? static_cast<float>(4.0 * sp.median) : 0.0f;
    const bool tripled = sp.category == Category::weak || sp.category == Category::total;
    for (int s = 0; s < values.nsamples(); ++s) {
      float& x = values.row(s)[j];
      float& w = u.row(s)[j];
      if (std::isnan(x) || std::isnan(w)) {
        x = median;
        w = median_u;
      } else if (!(w > 0.0f)) {
        char shown[32];
        std::snprintf(shown, sizeof shown, "%g", static_cast<double>(w));
        fail("Error: %s line %ld, species %s: the uncertainty %s of a measured value is not above zero; the fit "
             "would silently leave the value out. Give its uncertainty, or mark the value missing (an empty cell "
             "or NA) to leave it out on purpose!\n",
             uncertainty_path.c_str(), values.lines[static_cast<std::size_t>(s)], sp.name.c_str(), shown);
      }
      if (tripled) w = static_cast<float>(3.0 * static_cast<double>(w));
    }
  }
}

// The weighted data a starting model is built from, the species in the fit only.
WeightedData weighted_data(const std::vector<Species>& species, const MeasuredTable& values, const MeasuredTable& u) {
  const std::vector<long> samples = starting_samples(values.nsamples());
  WeightedData d;
  d.nsamples = static_cast<int>(samples.size());
  for (const Species& sp : species) {
    if (sp.category != Category::bad) ++d.nvar;
  }
  for (long sample : samples) {
    const int s = static_cast<int>(sample);
    for (const Species& sp : species) {
      if (sp.category == Category::bad) continue;
      d.x.push_back(static_cast<double>(values.row(s)[sp.column]));
      d.u.push_back(static_cast<double>(u.row(s)[sp.column]));
    }
  }
  return d;
}

// The data file's title names the values' file without its folder.
std::string base_name(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (char& c : name) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return name.empty() ? std::string("measured values") : name;
}

// The species of the fit's columns (all but those left out).
std::vector<int> fitted_columns(const std::vector<Species>& species) {
  std::vector<int> columns;
  for (const Species& sp : species) {
    if (sp.category != Category::bad) columns.push_back(sp.column);
  }
  return columns;
}

// The checks of the values' table once its species are classified.
void check_values(const PrepareOptions& o, const PreparedTables& t) {
  check_unique_samples(t.values);
  check_marker_values(t.values, fitted_columns(t.species));
  if (o.total.empty()) warn_unnamed_totals(t.species, o.concentrations);
}

}  // namespace

PreparedTables read_prepared_tables(const PrepareOptions& o) {
  MissingMarkers missing;
  missing.extra = o.missing_markers;
  PreparedTables t;
  FileIdentity values_file, uncertainties_file;
  if (!o.uncertainties.empty() && file_identity(o.concentrations, &values_file) &&
      file_identity(o.uncertainties, &uncertainties_file) && values_file == uncertainties_file) {
    fail("Error: %s and %s are the same file; the uncertainties need a table of their own!\n",
         o.concentrations.c_str(), o.uncertainties.c_str());
  }
  if (!o.uncertainties.empty()) {
    // The two tables are read side by side.
    std::exception_ptr uncertainty_error;
    std::thread reader([&] {
      try {
        t.u = read_measured(o.uncertainties, o.delimiter, missing);
      } catch (...) {
        uncertainty_error = std::current_exception();
      }
    });
    std::exception_ptr value_error;
    try {
      t.values = read_measured(o.concentrations, o.delimiter, missing);
    } catch (...) {
      value_error = std::current_exception();
    }
    reader.join();
    if (value_error) std::rethrow_exception(value_error);
    t.species = classify_species(t.values, o.bad, o.weak, o.total);
    check_values(o, t);
    if (uncertainty_error) {
      t.u = MeasuredTable();
      read_measured(o.uncertainties, o.delimiter, missing, &t.values);
      std::rethrow_exception(uncertainty_error);
    }
    if (match_species_order(t.u, t.values)) {
      warn("Note: %s holds the species of %s in another order; they are matched by name.\n", o.uncertainties.c_str(),
           o.concentrations.c_str());
    }
    check_same_shape(t.u, t.values);
    assign_units(t.species, t.values.units, t.u.units, o.units);
  } else {
    t.values = read_measured(o.concentrations, o.delimiter, missing);
    t.species = classify_species(t.values, o.bad, o.weak, o.total);
    check_values(o, t);
    std::vector<DetectionLimit> limits = read_detection_limits(o.mdl, o.delimiter, t.values.species);
    for (const DetectionLimit& l : limits) t.mdl.push_back(l.mdl);
    t.u = uncertainties_from_limits(t.values, limits);
    assign_units(t.species, t.values.units, {}, o.units);
  }
  return t;
}

void settle_tables(const PrepareOptions& o, PreparedTables& t) {
  drop_unmeasured_samples(t.species, t.values, t.u);
  // Two spellings of one date (22/06/2001, 22-Jun-2001) become the same identifier.
  if (settle_sample_dates(t.values, o.date_format)) check_unique_samples(t.values);
  describe_species(t.species, t.values, t.u, t.mdl);
  for (const Species& sp : t.species) {
    if (sp.category != Category::bad && std::isnan(sp.median)) {
      fail("Error: the species %s has no measured value; leave it out with --bad!\n", sp.name.c_str());
    }
  }
  t.nvar = 0;
  for (const Species& sp : t.species) t.nvar += sp.category == Category::bad ? 0 : 1;
  if (t.nvar == 0) fail("Error: every species is left out; there is nothing to fit!\n");
  settle_cells(t.species, o.missing_median, t.values, t.u, o.uncertainties.empty() ? o.mdl : o.uncertainties);
}

FitFiles starting_files(const PrepareOptions& o, const PreparedTables& t) {
  FitFiles files;
  files.title = "Prepared from " + base_name(o.concentrations);
  if (!o.profiles.empty()) {
    read_known_profiles(o.profiles, o.delimiter, o.hold_zeros, t.species, &files);
    return files;
  }
  if (o.factors > t.nvar) fail("Error: %d factors but only %d species in the fit!\n", o.factors, t.nvar);
  for (const std::string& name : o.names) {
    if (name.find_first_of("\t\r\n") != std::string::npos) fail("Error: a factor name holds a tab or a line end!\n");
  }
  for (int f = 0; f < o.factors; ++f) {
    files.factors.push_back(o.names.empty() ? "F" + std::to_string(f + 1) : o.names[static_cast<std::size_t>(f)]);
  }
  const StartConstruction construction = o.start == "nmf"      ? StartConstruction::nmf
                                         : o.start == "spread" ? StartConstruction::spread
                                                               : kDefaultConstruction;
  files.p = starting_profiles(weighted_data(t.species, t.values, t.u), o.factors, o.seed, construction);
  round_starting_profiles(files.p);
  files.fp.assign(files.p.size(), 1);
  return files;
}
