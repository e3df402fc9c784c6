// The measured tables of `tarnok prepare` on their way to the fit's files: read
// side by side, their species classified, their cells settled for the fit, and the
// starting profiles built or read.
#pragma once

#include <string>
#include <vector>

#include "measured/measured_table.h"
#include "prepare/fit_files.h"
#include "prepare/prepare_options.h"
#include "prepare/species_table.h"

struct PreparedTables {
  MeasuredTable values;          ///< the measured values
  MeasuredTable u;               ///< their uncertainties (given, or from the detection limits)
  std::vector<double> mdl;       ///< per species its detection limit, when the limits were given
  std::vector<Species> species;  ///< per species its category and statistics
  int nvar = 0;                  ///< species in the fit (those not left out as bad)
};

// Reads the values and their uncertainties (or detection limits) and classifies
// the species. Errors are reported as a reading one after the other would find
// them: the values' table first, then the species rules, then the uncertainties.
PreparedTables read_prepared_tables(const PrepareOptions& o);

// Describes every species, fails when a species in the fit has no measured value
// or none is left in the fit, and settles the cells the fit reads.
void settle_tables(const PrepareOptions& o, PreparedTables& tables);

// The fit's files: the known profiles read from --profiles, or starting profiles
// built from the data with names F1, F2, ... (or --names).
FitFiles starting_files(const PrepareOptions& o, const PreparedTables& tables);
