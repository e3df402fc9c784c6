// The form file: which profile elements the fit may change.
#pragma once

#include <string>
#include <vector>

#include "model/problem.h"

// Reads the form file at `path` into fp. Rows match variables by position; a
// missing row leaves its variable's elements held and rows beyond nvar are ignored.
void read_form(Problem& problem, const std::string& path);

// A form file of the factor names `faktnavn`, the variable names `varnavn` and the
// form fp (nvar x nfakt): 1 for a free element, 0 for a held one.
std::string form_text(const std::vector<std::string>& faktnavn, const std::vector<std::string>& varnavn,
                      const std::vector<int>& fp);
