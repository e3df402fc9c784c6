// The data file: a title line, a heading line, then one record per line with its
// identifier and a value and an uncertainty per variable.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/problem.h"

// Reads the data file at `path`: checks its headings against the profile's
// variables, sets text, xnavn, nrec, the identifiers, rawdata and usik.
void read_data(Problem& problem, const std::string& path);

// The title line and the heading line of a data file: the title, then the
// identifier heading (tabs and line ends in it made blanks, "Sample" when empty)
// and per variable its name and "u(name)".
std::string data_heading_text(const std::string& title, const std::string& id_heading,
                              const std::vector<std::string>& varnavn);

// Appends one record line: the identifier, then per column c of `columns` the
// value values[c] and the uncertainty uncertainties[c], each in append_float's text.
void append_data_record(std::string& out, std::string_view id, const float* values, const float* uncertainties,
                        const std::vector<int>& columns);

// Appends the shortest text that reads back as `value` through the data file's
// reader (decimal to double, then rounded to float).
void append_float(std::string& out, float value);
