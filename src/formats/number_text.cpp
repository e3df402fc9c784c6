#include "formats/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

char* format_lg(char* buf, double value) {
  if (std::isfinite(value)) {
    // Precision 6 in general format is defined as the "%.6g" conversion.
    return std::to_chars(buf, buf + kNumberTextSize, value, std::chars_format::general, 6).ptr;
  }
  int n = std::snprintf(buf, kNumberTextSize, "%lg", value);
  return buf + n;
}
