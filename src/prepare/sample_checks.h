// Checks of the measured samples and species that a fit could not make: the same
// sample twice, samples with nothing measured, and a total not named as such.
#pragma once

#include <string>
#include <vector>

#include "measured/measured_table.h"
#include "prepare/species_table.h"

// Fails when two samples have the same identifier, naming both lines: the result
// table could not tell their contributions apart.
void check_unique_samples(const MeasuredTable& values);

// Drops the samples in which no species of the fit has a measured value (or
// uncertainty), with a warning naming each identifier and line: such a sample
// gives the fit nothing to weigh and would turn its residue into nan.
void drop_unmeasured_samples(const std::vector<Species>& species, MeasuredTable& values, MeasuredTable& u);

// True for a species name that reads as a total of the others: PM2.5, PM10,
// Mass, TNMOC, total (in any case, with or without a space, dot or dash).
bool names_a_total(const std::string& name);

// Without --total, warns about each species whose name reads as a total: it would
// be fitted as a strong species.
void warn_unnamed_totals(const std::vector<Species>& species, const std::string& path);
