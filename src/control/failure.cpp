#include "control/failure.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1);
  std::vsnprintf(buffer.data(), buffer.size(), format, args);
  va_end(args);
  throw Failure(std::string(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0)));
}

std::string quote_cell(std::string_view cell) {
  constexpr std::size_t kShown = 40;
  std::string out;
  for (char c : cell.substr(0, kShown)) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      out += hex;
    } else {
      out += c;
    }
  }
  if (cell.size() > kShown) out += "...";
  return out;
}
