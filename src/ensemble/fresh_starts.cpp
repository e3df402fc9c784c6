#include "ensemble/fresh_starts.h"

#include <memory>

#include "start/starting_model.h"

namespace {

// The data a starting model is built from: the problem's values and uncertainties
// of the samples prepare would use, widened to double.
WeightedData problem_data(const Problem& problem) {
  const std::vector<long> samples = starting_samples(problem.nrec);
  const std::size_t nvar = static_cast<std::size_t>(problem.nvar);
  WeightedData d;
  d.nsamples = static_cast<int>(samples.size());
  d.nvar = problem.nvar;
  d.x.reserve(samples.size() * nvar);
  d.u.reserve(samples.size() * nvar);
  for (long s : samples) {
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = static_cast<std::size_t>(s) * nvar + v;
      d.x.push_back(static_cast<double>(problem.rawdata[cell]));
      d.u.push_back(static_cast<double>(problem.usik[cell]));
    }
  }
  return d;
}

std::vector<double> profiles_from(const Problem& problem, const WeightedData& data, std::uint64_t seed) {
  std::vector<double> p = starting_profiles(data, problem.nfakt, seed, kDefaultConstruction);
  round_starting_profiles(p);
  for (std::size_t e = 0; e < p.size(); ++e) {
    if (problem.fp[e] == 0) p[e] = problem.starting_p[e];
  }
  return p;
}

}  // namespace

std::vector<double> fresh_profiles(const Problem& problem, std::uint64_t seed) {
  return profiles_from(problem, problem_data(problem), seed);
}

StartProfiles fresh_starts(const Problem& problem, std::uint64_t seed) {
  auto data = std::make_shared<const WeightedData>(problem_data(problem));
  return [&problem, data, seed](std::vector<double>& p, int start) {
    p = profiles_from(problem, *data, seed + static_cast<std::uint64_t>(start));
  };
}
