#include <cstddef>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/path_names.h"

namespace {

// The names of `rest` after "." and empty names are dropped and each ".." has taken
// the name before it away.
std::vector<std::string> resolved_names(const std::string& rest) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= rest.size()) {
    std::size_t end = start;
    while (end < rest.size() && !is_separator(rest[end])) ++end;
    const std::string name = rest.substr(start, end - start);
    if (name == ".." && !names.empty() && names.back() != "..") {
      names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    start = end + 1;
  }
  return names;
}

// Whether `part` (a beginning of a path) is a root: nothing but separators, or a
// drive such as "C:".
bool is_root(const std::string& part) {
  bool only_separators = true;
  for (char c : part) only_separators = only_separators && is_separator(c);
  return only_separators || part.back() == ':';
}

// The place of `part`, which exists, followed by `rest`. Names of the rest that
// exist after all (a ".." took a missing folder away) are followed, so that every
// spelling ends at the same folder.
bool found_at(std::string part, const std::string& rest, FilePlace* place) {
  if (!file_identity(part, &place->found)) return false;
  const std::vector<std::string> names = resolved_names(rest);
  std::size_t n = 0;
  for (FileIdentity id; n < names.size(); ++n) {
    part += (is_separator(part.back()) ? "" : "/") + names[n];
    if (!file_identity(part, &id)) break;
    place->found = id;
  }
  place->rest.clear();
  for (; n < names.size(); ++n) place->rest += (place->rest.empty() ? "" : "/") + name_as_compared(names[n]);
  return true;
}

}  // namespace

bool file_place(const std::string& path, FilePlace* place) {
  if (path.empty()) return false;
  if (found_at(path, "", place)) return true;
  // Shorter and shorter beginnings of the path, cut at each separator from the end.
  for (std::size_t cut = path.size(); cut-- > 0;) {
    if (!is_separator(path[cut])) continue;
    const std::string part = path.substr(0, cut);
    if (part.empty() || is_root(part)) return found_at(path.substr(0, cut + 1), path.substr(cut + 1), place);
    if (found_at(part, path.substr(cut + 1), place)) return true;
  }
  // A relative path whose first folder does not exist: from the current folder.
  return found_at(".", path, place);
}
