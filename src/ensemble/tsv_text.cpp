#include "ensemble/tsv_text.h"

#include <charconv>
#include <cmath>

void append_number(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  char buf[40];
  const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 9);
  out.append(buf, result.ptr);
}
