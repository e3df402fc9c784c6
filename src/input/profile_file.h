// The profile file: factor names in the first line, then one row per variable with
// its name and one starting profile value per factor.
#pragma once

#include <string>

#include "control/model.h"

// Reads the profile file at `path` (as typed): sets nfakt, nvar, faktnavn, varnavn
// and p, and creates the tables sized by nfakt and nvar.
void read_profile(Model& m, const std::string& path);

// Fails, naming the profile file at `path`, when there are more unknown
// contributions per record (factors, less the offset factor in offset mode) than
// variables: no record could then determine its contributions, and the work of a
// pass would grow with the cube of a factor count that can run into thousands.
void check_factor_count(const Model& m, const std::string& path);
