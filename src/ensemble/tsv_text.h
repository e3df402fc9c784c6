// Numbers and rows of the tab-separated tables of starts and bootstrap.
#pragma once

#include <string>

// Appends value with nine significant digits (enough to tell close chi2 apart),
// in the shortest of fixed and exponent notation, as "%.9g" writes it.
void append_number(std::string& out, double value);
