#include "ensemble/tsv_text.h"

#include <charconv>
#include <cmath>

std::string number_cell(double value) {
  if (std::isnan(value)) return "nan";
  char buf[40];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 9);
  return std::string(buf, result.ptr);
}
