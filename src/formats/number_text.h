// Numbers as the result table writes them: the "%lg" conversion (six significant
// digits, fixed or exponent notation, whichever is shorter, trailing zeros dropped).
#pragma once

#include <cstddef>

constexpr std::size_t kNumberTextSize = 32;  // room for any "%lg" text

// Writes value as "%lg" does into buf (kNumberTextSize bytes) and returns the end
// of the text (no terminator).
char* format_lg(char* buf, double value);
