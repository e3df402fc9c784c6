// Writes a synthetic problem on which the fit drifts slowly: two of its four
// factors have nearly the same profile, so chi2 flattens long before the two
// profiles stop trading elements, and a few outlying values make chi2 flicker
// from pass to pass. Used to check the convergence stop (bench/converge_check.sh).
//
//   make_drift SEED FOLDER
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 400;
constexpr int kVariables = 14;
constexpr int kFactors = 4;

std::FILE* create(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::fprintf(stderr, "make_drift: cannot create %s\n", path.c_str());
    std::exit(1);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_drift SEED FOLDER\n");
    return 1;
  }
  std::mt19937_64 rng(std::strtoull(argv[1], nullptr, 10));
  const std::string folder = argv[2];
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);

  // True profiles: factors 0 and 1 share their strong variables and differ by a
  // tenth in a few; factors 2 and 3 are distinct.
  std::vector<double> p(static_cast<std::size_t>(kVariables * kFactors));
  auto at = [](int v, int f) { return static_cast<std::size_t>(v * kFactors + f); };
  for (int v = 0; v < kVariables; ++v) {
    const double shared = v < 6 ? 0.2 + 0.4 * uniform(rng) : 0.01 * uniform(rng);
    p[at(v, 0)] = shared;
    p[at(v, 1)] = shared * (v % 3 == 0 ? 1.1 : 0.95);
    p[at(v, 2)] = v >= 5 && v < 10 ? 0.3 + 0.3 * uniform(rng) : 0.005 * uniform(rng);
    p[at(v, 3)] = v >= 9 ? 0.3 + 0.3 * uniform(rng) : 0.005 * uniform(rng);
  }

  std::FILE* profile = create(folder + "/profile.tsv");
  std::FILE* form = create(folder + "/form.tsv");
  std::fprintf(profile, "\tNear A\tNear B\tThird\tFourth\n");
  std::fprintf(form, "\tNear A\tNear B\tThird\tFourth\n");
  for (int v = 0; v < kVariables; ++v) {
    std::fprintf(profile, "V%d", v + 1);
    std::fprintf(form, "V%d", v + 1);
    for (int f = 0; f < kFactors; ++f) {
      // The two near factors start from a mix of each other.
      double start = p[at(v, f)];
      if (f < 2) start = 0.6 * p[at(v, f)] + 0.4 * p[at(v, 1 - f)];
      std::fprintf(profile, "\t%.4g", start * (0.8 + 0.4 * uniform(rng)) + 0.001);
      std::fprintf(form, "\t1");
    }
    std::fprintf(profile, "\n");
    std::fprintf(form, "\n");
  }
  std::fclose(profile);
  std::fclose(form);

  std::FILE* data = create(folder + "/data.tsv");
  std::fprintf(data, "Synthetic slow drift, %d records x %d variables x %d factors\t\n", kRecords, kVariables, kFactors);
  std::fprintf(data, "Sample");
  for (int v = 0; v < kVariables; ++v) std::fprintf(data, "\tV%d\tu(V%d)", v + 1, v + 1);
  std::fprintf(data, "\n");
  for (int s = 0; s < kRecords; ++s) {
    double c[kFactors];
    const double common = -std::log(uniform(rng) + 1e-12);
    c[0] = common * (0.5 + 0.5 * uniform(rng));  // the near factors rise and fall together
    c[1] = common * (0.5 + 0.5 * uniform(rng));
    c[2] = -std::log(uniform(rng) + 1e-12);
    c[3] = uniform(rng) < 0.3 ? 0.0 : -std::log(uniform(rng) + 1e-12);
    std::fprintf(data, "S%04d", s + 1);
    for (int v = 0; v < kVariables; ++v) {
      double y = 0.0;
      for (int f = 0; f < kFactors; ++f) y += p[at(v, f)] * c[f];
      const double u = 0.08 * y + 0.003;
      double value = y + u * normal(rng);
      if (uniform(rng) < 0.01) value += 15 * u;  // an outlier
      std::fprintf(data, "\t%.5g\t%.4g", value, u);
    }
    std::fprintf(data, "\n");
  }
  std::fclose(data);
  return 0;
}
