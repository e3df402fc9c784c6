// Cutting a line into tab-separated fields.
#pragma once

#include <string_view>
#include <vector>

// Every maximal run of non-tab characters of `line` is one field, in order; leading,
// trailing and repeated tabs produce no (empty) fields.
std::vector<std::string_view> split_tabs(std::string_view line);
