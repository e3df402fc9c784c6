#include "control/failure.h"

#include <cstdarg>
#include <cstdio>

#include "control/text_format.h"

void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformat_text(format, args);
  va_end(args);
  throw Failure(message);
}

std::string quote_cell(std::string_view cell) {
  constexpr std::size_t kShown = 40;
  std::string out;
  for (char c : cell.substr(0, kShown)) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      out += format_text("\\x%02x", u);
    } else {
      out += c;
    }
  }
  if (cell.size() > kShown) out += "...";
  return out;
}

void refuse_utf16(const std::string& path, std::string_view first_bytes) {
  if (first_bytes.size() < 2) return;
  const bool mark = first_bytes.substr(0, 2) == "\xFF\xFE" || first_bytes.substr(0, 2) == "\xFE\xFF";
  const bool nul_beside_character = (first_bytes[0] == '\0') != (first_bytes[1] == '\0');
  if (mark || nul_beside_character) {
    fail("Error: %s: the file is UTF-16 text (a NUL byte in every character); save it as UTF-8!\n", path.c_str());
  }
}
