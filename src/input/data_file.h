// The data file: a title line, a heading line, then one record per line with its
// identifier and a value and an uncertainty per variable.
#pragma once

#include <string>

#include "control/model.h"

// Reads the data file at `path`: checks its headings against the profile's
// variables, sets text, xnavn, nrec, the identifiers, rawdata and usik, and creates
// the tables sized by nrec.
void read_data(Model& m, const std::string& path);
