// Profile elements held at a value: the constrained fit that displacement runs and
// that --hold runs on its own. A held element is measured as the element times its
// factor's mean contribution (the factor's mean amount of the variable), which a
// rescaling of the factor leaves unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

// Reads one --hold text FACTOR:VARIABLE=VALUE against the problem's names: the
// factor and variable by name (the last ':' before the last '=' separates them),
// VALUE a finite number of at least 0. The element must be free in the form.
// Fails with a message otherwise.
HeldElement parse_hold(const Problem& problem, std::string_view text);

// The problem of a fit with `holds`: a copy whose form holds each of those
// elements (not free), so the profile step leaves them to the fit's holds.
Problem holding(const Problem& problem, const std::vector<HeldElement>& holds);

// The mean contribution of factor f over the records: sum of x[s][f] in record
// order, divided by nrec.
double mean_contribution(const Problem& problem, const FitState& state, int f);

// Element (f, v) of a fitted state times the mean contribution of f.
double scale_free_element(const Problem& problem, const FitState& state, int f, int v);

// The holds as the closing line names them: "held Secondary sulfate:SO4=2.5, ...".
std::string holds_text(const Problem& problem, const std::vector<HeldElement>& holds);

// Reads every --hold text in order (parse_hold); fails when an element is held
// twice.
std::vector<HeldElement> parse_holds(const Problem& problem, const std::vector<std::string>& texts);
