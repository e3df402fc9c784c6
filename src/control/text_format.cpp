#include "control/text_format.h"

#include <cstdio>

std::string vformat_text(const char* format, va_list args) {
  // Most texts are short lines: format them on the stack at once, and only a
  // longer one a second time into a string of the measured length.
  char line[256];
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(line, sizeof line, format, copy);
  va_end(copy);
  if (length < 0) return "";
  const auto size = static_cast<std::size_t>(length);
  if (size < sizeof line) return std::string(line, size);
  std::string text(size, '\0');
  std::vsnprintf(text.data(), size + 1, format, args);
  return text;
}

std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat_text(format, args);
  va_end(args);
  return text;
}
