// Starting profiles taken from the data itself, the same for a given seed on every
// platform (the random numbers come from splitmix64, defined here). `prepare`
// writes them as the profile file; the fit's fresh starts build them again from
// the data file, so that start S+i is the profile file prepare writes with seed S+i.
#pragma once

#include <cstdint>
#include <vector>

// The weighted data a starting model is built from: nsamples x nvar values and
// uncertainties, row-major; an uncertainty not above zero marks a missing value.
struct WeightedData {
  int nsamples = 0;
  int nvar = 0;
  std::vector<double> x;
  std::vector<double> u;
};

// splitmix64: a small generator with a fixed definition.
class SplitMix64 {
 public:
  explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next();
  double uniform();  ///< in [0, 1), 53 random bits
 private:
  std::uint64_t state_;
};

enum class StartConstruction {
  spread,  ///< k-means++ choice of well-separated samples, refined by a few k-means steps; cluster means
  nmf,     ///< weighted non-negative factorisation by multiplicative updates from a seeded random start
  spread_nmf,  ///< the same factorisation, started from the spread profiles
};

// Returns nvar x nfakt starting profiles p[v * nfakt + f], every element positive.
// At most `max_samples` samples (evenly spaced) are used, so a huge table costs no
// more than a large one.
std::vector<double> starting_profiles(const WeightedData& data, int nfakt, std::uint64_t seed,
                                      StartConstruction construction, int max_samples = 5000);

// The construction `prepare` uses unless told otherwise, and the one of fresh starts.
constexpr StartConstruction kDefaultConstruction = StartConstruction::spread_nmf;

// The samples a starting model is built from, of `nsamples` in order: all, or
// 2000 evenly spaced (sample k * nsamples / 2000), so that a huge table costs no
// more than a large one.
std::vector<long> starting_samples(long nsamples);

// Every element rounded to six significant digits ("%.6g" and read back): plenty
// for a start, and the profile file stays readable.
void round_starting_profiles(std::vector<double>& p);
