// The unit a heading gives its species, as analysts write it after the name:
// "Mass (ug/m3)", "SO4 [ug/m3]", "Benzene (ppbC)".
#pragma once

#include <string>
#include <string_view>

struct NameAndUnit {
  std::string name;  ///< the heading without its unit, trimmed
  std::string unit;  ///< "" when the heading gives none
};

// Splits a trailing "(unit)" or "[unit]" off a heading. The bracketed text counts
// as a unit only when it looks like one (it holds a '/', a '%' or a per cubic metre,
// or is a mixing ratio such as ppb, ppbv, ppbC, ppm, ppt), so that "Fe (total)"
// stays a name; the name before it must not be empty.
NameAndUnit split_unit(std::string_view heading);
