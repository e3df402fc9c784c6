#include "fit/repeated_records.h"

#include <cstring>

std::vector<int> record_sources(const Problem& problem, const std::vector<float>& usik) {
  std::vector<int> source(static_cast<std::size_t>(problem.nrec));
  const bool repeats = problem.copy_of.size() == static_cast<std::size_t>(problem.nrec);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const auto bytes = nvar * sizeof(float);
  for (int s = 0; s < problem.nrec; ++s) {
    const int first = repeats ? problem.copy_of[static_cast<std::size_t>(s)] : s;
    const auto a = static_cast<std::size_t>(s) * nvar;
    const auto b = static_cast<std::size_t>(first) * nvar;
    const bool same = first >= 0 && first < s &&
                      std::memcmp(problem.rawdata.data() + a, problem.rawdata.data() + b, bytes) == 0 &&
                      std::memcmp(usik.data() + a, usik.data() + b, bytes) == 0;
    source[static_cast<std::size_t>(s)] = same ? source[static_cast<std::size_t>(first)] : s;
  }
  return source;
}
