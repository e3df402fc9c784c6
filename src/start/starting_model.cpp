#include "start/starting_model.h"

#include "start/factorisation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// The samples used: all, or `max_samples` evenly spaced.
std::vector<int> chosen_samples(int nsamples, int max_samples) {
  std::vector<int> rows;
  if (nsamples <= max_samples) {
    for (int s = 0; s < nsamples; ++s) rows.push_back(s);
  } else {
    for (int k = 0; k < max_samples; ++k) {
      rows.push_back(static_cast<int>(static_cast<long long>(k) * nsamples / max_samples));
    }
  }
  return rows;
}

// Per variable, the mean of the present values above zero (1 when there is none):
// the scale that makes every variable count alike when samples are compared.
std::vector<double> variable_scale(const WeightedData& d, const std::vector<int>& rows) {
  const std::size_t nvar = static_cast<std::size_t>(d.nvar);
  std::vector<double> scale(nvar, 0.0);
  std::vector<double> count(nvar, 0.0);
  for (int s : rows) {
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = static_cast<std::size_t>(s) * nvar + v;
      if (d.u[cell] > 0 && d.x[cell] > 0) {
        scale[v] += d.x[cell];
        count[v] += 1.0;
      }
    }
  }
  for (std::size_t v = 0; v < nvar; ++v) scale[v] = count[v] > 0 && scale[v] > 0 ? scale[v] / count[v] : 1.0;
  return scale;
}

// Sample rows scaled by the variable means, missing and negative values as 0, each
// row then scaled to unit length: samples of the same mix of sources point alike.
std::vector<double> direction_rows(const WeightedData& d, const std::vector<int>& rows,
                                   const std::vector<double>& scale) {
  const std::size_t nvar = static_cast<std::size_t>(d.nvar);
  std::vector<double> z(rows.size() * nvar, 0.0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    double length = 0.0;
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = static_cast<std::size_t>(rows[r]) * nvar + v;
      const double value = d.u[cell] > 0 && d.x[cell] > 0 ? d.x[cell] / scale[v] : 0.0;
      z[r * nvar + v] = value;
      length += value * value;
    }
    length = std::sqrt(length);
    if (length > 0) {
      for (std::size_t v = 0; v < nvar; ++v) z[r * nvar + v] /= length;
    }
  }
  return z;
}

double distance2(const double* a, const double* b, std::size_t n) {
  double sum = 0.0;
  for (std::size_t v = 0; v < n; ++v) sum += (a[v] - b[v]) * (a[v] - b[v]);
  return sum;
}

// Every element at least a small share of its variable's scale, so that no
// element starts at zero and no factor starts empty.
void lift(std::vector<double>& p, int nfakt, const std::vector<double>& scale) {
  const std::size_t k = static_cast<std::size_t>(nfakt);
  for (std::size_t v = 0; v < scale.size(); ++v) {
    for (std::size_t f = 0; f < k; ++f) {
      double& e = p[v * k + f];
      const double least = 1e-3 * scale[v];
      if (!(e > least)) e = least;
    }
  }
}

std::vector<double> spread_start(const WeightedData& d, int nfakt, SplitMix64& rng, const std::vector<int>& rows) {
  const std::size_t nvar = static_cast<std::size_t>(d.nvar);
  const std::size_t k = static_cast<std::size_t>(nfakt);
  const std::size_t n = rows.size();
  const std::vector<double> scale = variable_scale(d, rows);
  const std::vector<double> z = direction_rows(d, rows, scale);

  // k-means++: the first centre at random, each next one with probability
  // proportional to the squared distance to the nearest centre chosen.
  std::vector<double> centre(k * nvar, 0.0);
  std::vector<double> nearest(n, std::numeric_limits<double>::infinity());
  std::size_t pick = static_cast<std::size_t>(rng.uniform() * static_cast<double>(n));
  for (std::size_t c = 0; c < k; ++c) {
    std::copy(z.begin() + static_cast<std::ptrdiff_t>(pick * nvar),
              z.begin() + static_cast<std::ptrdiff_t>((pick + 1) * nvar),
              centre.begin() + static_cast<std::ptrdiff_t>(c * nvar));
    double total = 0.0;
    for (std::size_t r = 0; r < n; ++r) {
      nearest[r] = std::min(nearest[r], distance2(&z[r * nvar], &centre[c * nvar], nvar));
      total += nearest[r];
    }
    if (c + 1 == k) break;
    double target = rng.uniform() * total;
    pick = n - 1;
    for (std::size_t r = 0; r < n; ++r) {
      target -= nearest[r];
      if (target < 0) {
        pick = r;
        break;
      }
    }
  }

  // A few k-means steps; then each factor's profile is the mean of its samples in
  // the units of the data.
  std::vector<std::size_t> member(n, 0);
  for (int step = 0; step < 10; ++step) {
    for (std::size_t r = 0; r < n; ++r) {
      double best = std::numeric_limits<double>::infinity();
      for (std::size_t c = 0; c < k; ++c) {
        const double dist = distance2(&z[r * nvar], &centre[c * nvar], nvar);
        if (dist < best) {
          best = dist;
          member[r] = c;
        }
      }
    }
    std::vector<double> sum(k * nvar, 0.0);
    std::vector<double> count(k, 0.0);
    for (std::size_t r = 0; r < n; ++r) {
      for (std::size_t v = 0; v < nvar; ++v) sum[member[r] * nvar + v] += z[r * nvar + v];
      count[member[r]] += 1.0;
    }
    for (std::size_t c = 0; c < k; ++c) {
      if (count[c] == 0) continue;  // an empty cluster keeps its centre
      for (std::size_t v = 0; v < nvar; ++v) centre[c * nvar + v] = sum[c * nvar + v] / count[c];
    }
  }

  std::vector<double> p(nvar * k, 0.0);
  std::vector<double> present(nvar * k, 0.0);
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = static_cast<std::size_t>(rows[r]) * nvar + v;
      if (d.u[cell] > 0) {
        p[v * k + member[r]] += std::max(d.x[cell], 0.0);
        present[v * k + member[r]] += 1.0;
      }
    }
  }
  // A cluster mean holds every source of its samples; a share of it is the
  // factor's start, so that the factors add up to about a typical sample.
  for (std::size_t e = 0; e < p.size(); ++e) p[e] = present[e] > 0 ? p[e] / present[e] / static_cast<double>(k) : 0.0;
  lift(p, nfakt, scale);
  return p;
}

// `start`: nvar x nfakt profiles to start from; empty: a seeded random start.
std::vector<double> nmf_start(const WeightedData& d, int nfakt, SplitMix64& rng, const std::vector<int>& rows,
                              const std::vector<double>& start) {
  const std::size_t nvar = static_cast<std::size_t>(d.nvar);
  const std::size_t k = static_cast<std::size_t>(nfakt);
  const std::size_t n = rows.size();
  const std::vector<double> scale = variable_scale(d, rows);
  std::vector<double> x(n * nvar, 0.0), w(n * nvar, 0.0);
  for (std::size_t r = 0; r < n; ++r) {
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = static_cast<std::size_t>(rows[r]) * nvar + v;
      if (d.u[cell] > 0) {
        x[r * nvar + v] = std::max(d.x[cell], 0.0);
        w[r * nvar + v] = 1.0 / d.u[cell] / d.u[cell];
      }
    }
  }
  // g: n x k contributions, f: k x nvar profiles; X ~ g f, weighted by 1/u/u.
  std::vector<double> g(n * k), f(k * nvar);
  for (double& e : g) e = start.empty() ? 0.5 + rng.uniform() : 1.0;
  for (std::size_t c = 0; c < k; ++c) {
    for (std::size_t v = 0; v < nvar; ++v) {
      f[c * nvar + v] = start.empty() ? scale[v] * (0.5 + rng.uniform()) / static_cast<double>(k) : start[v * k + c];
    }
  }
  factorise(n, nvar, k, x.data(), w.data(), g.data(), f.data());
  // Contributions of mean 1: the scale of each factor goes into its profile.
  std::vector<double> p(nvar * k, 0.0);
  for (std::size_t c = 0; c < k; ++c) {
    double mean = 0.0;
    for (std::size_t r = 0; r < n; ++r) mean += g[r * k + c];
    mean = n > 0 ? mean / static_cast<double>(n) : 1.0;
    for (std::size_t v = 0; v < nvar; ++v) p[v * k + c] = f[c * nvar + v] * mean;
  }
  lift(p, nfakt, scale);
  return p;
}

}  // namespace

std::uint64_t SplitMix64::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double SplitMix64::uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }

std::vector<double> starting_profiles(const WeightedData& data, int nfakt, std::uint64_t seed,
                                      StartConstruction construction, int max_samples) {
  SplitMix64 rng(seed);
  const std::vector<int> rows = chosen_samples(data.nsamples, max_samples);
  switch (construction) {
    case StartConstruction::nmf:
      return nmf_start(data, nfakt, rng, rows, {});
    case StartConstruction::spread_nmf:
      return nmf_start(data, nfakt, rng, rows, spread_start(data, nfakt, rng, rows));
    case StartConstruction::spread:
      break;
  }
  return spread_start(data, nfakt, rng, rows);
}

std::vector<long> starting_samples(long nsamples) {
  constexpr long kMostSamples = 2000;
  const long used = std::min(nsamples, kMostSamples);
  std::vector<long> rows;
  for (long k = 0; k < used; ++k) rows.push_back(k * nsamples / used);
  return rows;
}

void round_starting_profiles(std::vector<double>& p) {
  for (double& e : p) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", e);
    e = std::strtod(text, nullptr);
  }
}
