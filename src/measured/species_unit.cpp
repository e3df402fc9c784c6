#include "measured/species_unit.h"

#include <algorithm>
#include <cctype>

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool looks_like_unit(std::string_view text) {
  for (std::string_view mark : {"/", "%", "m-3", "m^-3", "m3", "m\xc2\xb3"}) {
    if (text.find(mark) != std::string_view::npos) return true;
  }
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (std::string_view ratio : {"ppb", "ppbv", "ppbc", "ppm", "ppmv", "ppmc", "ppt", "pptv"}) {
    if (lower == ratio) return true;
  }
  return false;
}

}  // namespace

NameAndUnit split_unit(std::string_view heading) {
  const std::string_view text = trimmed(heading);
  NameAndUnit out{std::string(text), ""};
  if (text.empty() || (text.back() != ')' && text.back() != ']')) return out;
  const char open = text.back() == ')' ? '(' : '[';
  const std::size_t at = text.rfind(open);
  if (at == std::string_view::npos) return out;
  const std::string_view name = trimmed(text.substr(0, at));
  const std::string_view unit = trimmed(text.substr(at + 1, text.size() - at - 2));
  if (name.empty() || unit.empty() || !looks_like_unit(unit)) return out;
  return {std::string(name), std::string(unit)};
}
