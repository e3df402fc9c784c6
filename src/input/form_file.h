// The form file: which profile elements the fit may change.
#pragma once

#include <string>

#include "control/model.h"

// Reads the form file at `path` into fp. Rows match variables by position; a
// missing row leaves its variable's elements held and rows beyond nvar are ignored.
void read_form(Model& m, const std::string& path);
