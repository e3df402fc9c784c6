// Numbers in the tables of starts and bootstrap.
#pragma once

#include <string>

// The cell of a number: nine significant digits (enough to tell close chi2 apart),
// in the shortest of fixed and exponent notation, as "%.9g" writes it; "nan" for
// a value that is not a number.
std::string number_cell(double value);
