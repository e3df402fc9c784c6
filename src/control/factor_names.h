// The factors' names of --names A,B,...: for a fit, in place of the profile file's
// names; for tarnok report, in place of the names the fit used.
#pragma once

#include <string>
#include <vector>

// The names of a comma-separated list, each trimmed of spaces. Fails unless it
// gives exactly `nfakt` names, none of them empty.
std::vector<std::string> factor_names(const std::string& list, int nfakt);
