#include "control/factor_names.h"

#include "control/failure.h"

std::vector<std::string> factor_names(const std::string& list, int nfakt) {
  std::vector<std::string> names;
  for (std::size_t start = 0;;) {
    const std::size_t comma = list.find(',', start);
    std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) fail("Error: --names %s: a factor name is empty!\n", list.c_str());
    names.push_back(name);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (static_cast<int>(names.size()) != nfakt) {
    fail("Error: --names %s: %zu names for %d factors!\n", list.c_str(), names.size(), nfakt);
  }
  return names;
}
