#include "formats/name_check.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr std::size_t kNameLength = 19;  // variable names are cut to this many characters

std::FILE* warnings = nullptr;  // standard error unless set

}  // namespace

std::string name_key(std::string_view name) {
  std::string key(name.substr(0, kNameLength));
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

bool names_variable(const Problem& problem, std::string_view name, int v) {
  return name_key(name) == name_key(problem.varnavn[static_cast<std::size_t>(v)]);
}

int other_variable(const Problem& problem, std::string_view name, int expected) {
  const std::string key = name_key(name);
  for (int v = 0; v < problem.nvar; ++v) {
    if (v != expected && key == name_key(problem.varnavn[static_cast<std::size_t>(v)])) return v;
  }
  return -1;
}

void warn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::FILE* out = warnings != nullptr ? warnings : stderr;
  std::vfprintf(out, format, args);
  va_end(args);
  std::fflush(out);
}

void set_warning_stream(std::FILE* stream) { warnings = stream; }
