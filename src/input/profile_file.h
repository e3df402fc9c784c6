// The profile file: factor names in the first line, then one row per variable with
// its name and one starting profile value per factor.
#pragma once

#include <string>

#include "control/model.h"

// Reads the profile file at `path` (as typed): sets nfakt, nvar, faktnavn, varnavn
// and p, and creates the tables sized by nfakt and nvar.
void read_profile(Model& m, const std::string& path);
