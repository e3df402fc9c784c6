// Known source profiles to start the fit from: a table of species (rows) by sources
// (columns), in any of the delimiters the measured tables use.
#pragma once

#include <string>
#include <vector>

#include "prepare/fit_files.h"
#include "prepare/species_table.h"

// Reads the table at `path` into files->factors, p and fp for the species in the
// fit (rows matched by full name; other rows are ignored). Every element is free,
// except that `hold_zeros` holds the elements that are zero. Fails, listing them,
// when species of the fit have no row.
void read_known_profiles(const std::string& path, char delimiter, bool hold_zeros,
                         const std::vector<Species>& species, FitFiles* files);
