// The profile file: factor names in the first line, then one row per variable with
// its name and one starting profile value per factor.
#pragma once

#include <string>
#include <vector>

#include "model/problem.h"

// Reads the profile file at `path` (as typed): sets nfakt, nvar, faktnavn, varnavn
// and the starting profiles, and creates the tables sized by nfakt and nvar.
void read_profile(Problem& problem, const std::string& path);

// A profile file of the factor names `faktnavn`, the variable names `varnavn` and
// the profiles p (nvar x nfakt), each number in the shortest text that reads back
// as the same double: a fit from it starts from exactly these profiles.
std::string profile_text(const std::vector<std::string>& faktnavn, const std::vector<std::string>& varnavn,
                         const std::vector<double>& p);
