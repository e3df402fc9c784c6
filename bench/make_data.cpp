// Writes a synthetic problem for the benchmarks: profile, form and data files of
// the given size, made from known non-negative profiles and contributions with
// noise. About a third of the factors are absent from each record, so the
// contribution step drops factors as it does on real data; a few values are
// missing (uncertainty 0) and a few measured values are negative. The true
// profiles go to truth.tsv (in the layout of a profile file).
//
//   make_data NREC NVAR NFAKT SEED FOLDER [hard]
//
// "hard" makes a problem on which the start matters: dense, overlapping profiles
// (every element free), every factor in every record, 10 % noise, 2 % of the
// values outliers (ten times too large), and starting profiles drawn without
// regard to the truth.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

std::FILE* create(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::fprintf(stderr, "make_data: cannot create %s\n", path.c_str());
    std::exit(1);
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const bool hard = argc == 7 && std::string(argv[6]) == "hard";
  if (argc != 6 && !hard) {
    std::fprintf(stderr, "usage: make_data NREC NVAR NFAKT SEED FOLDER [hard]\n");
    return 1;
  }
  const int nrec = std::atoi(argv[1]);
  const int nvar = std::atoi(argv[2]);
  const int nfakt = std::atoi(argv[3]);
  std::mt19937_64 rng(std::strtoull(argv[4], nullptr, 10));
  const std::string folder = argv[5];
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);

  // True profiles: every factor has a few strong variables and a weak background.
  std::vector<double> p(static_cast<std::size_t>(nvar) * nfakt);
  std::vector<int> fp(p.size());
  for (int v = 0; v < nvar; ++v) {
    for (int f = 0; f < nfakt; ++f) {
      const bool strong = (v + f) % std::max(1, nfakt / 3 + 1) == 0 || uniform(rng) < 0.1;
      double value = strong ? 0.05 + 0.5 * uniform(rng) : 0.002 * uniform(rng);
      if (uniform(rng) < 0.05) value = 0.0;
      if (hard) value = uniform(rng) < 0.3 ? 0.0 : uniform(rng);
      p[static_cast<std::size_t>(v) * nfakt + f] = value;
      fp[static_cast<std::size_t>(v) * nfakt + f] = hard || uniform(rng) < 0.75 ? 1 : 0;
    }
  }

  std::FILE* profile = create(folder + "/profile.tsv");
  std::FILE* form = create(folder + "/form.tsv");
  for (int f = 0; f < nfakt; ++f) {
    std::fprintf(profile, "\tF%d", f + 1);
    std::fprintf(form, "\tF%d", f + 1);
  }
  std::fprintf(profile, "\n");
  std::fprintf(form, "\n");
  for (int v = 0; v < nvar; ++v) {
    std::fprintf(profile, "V%d", v + 1);
    std::fprintf(form, "V%d", v + 1);
    for (int f = 0; f < nfakt; ++f) {
      const std::size_t k = static_cast<std::size_t>(v) * nfakt + f;
      // Free elements start away from the truth; held ones at it.
      double start = fp[k] ? p[k] * (0.7 + 0.6 * uniform(rng)) + 0.001 : p[k];
      if (hard) start = 0.05 + uniform(rng);
      std::fprintf(profile, "\t%.4g", start);
      std::fprintf(form, "\t%d", fp[k]);
    }
    std::fprintf(profile, "\n");
    std::fprintf(form, "\n");
  }
  std::fclose(profile);
  std::fclose(form);

  std::FILE* truth = create(folder + "/truth.tsv");
  for (int f = 0; f < nfakt; ++f) std::fprintf(truth, "\tF%d", f + 1);
  std::fprintf(truth, "\n");
  for (int v = 0; v < nvar; ++v) {
    std::fprintf(truth, "V%d", v + 1);
    for (int f = 0; f < nfakt; ++f) std::fprintf(truth, "\t%.17g", p[static_cast<std::size_t>(v) * nfakt + f]);
    std::fprintf(truth, "\n");
  }
  std::fclose(truth);

  std::FILE* data = create(folder + "/data.tsv");
  std::fprintf(data, "Synthetic data, %d records x %d variables x %d factors\n", nrec, nvar, nfakt);
  std::fprintf(data, "Sample");
  for (int v = 0; v < nvar; ++v) std::fprintf(data, "\tV%d\tu(V%d)", v + 1, v + 1);
  std::fprintf(data, "\n");
  std::vector<double> c(static_cast<std::size_t>(nfakt));
  for (int s = 0; s < nrec; ++s) {
    for (int f = 0; f < nfakt; ++f) {
      c[static_cast<std::size_t>(f)] = uniform(rng) < 0.35 && !hard ? 0.0 : -std::log(uniform(rng) + 1e-12);
    }
    std::fprintf(data, "S%07d", s + 1);
    for (int v = 0; v < nvar; ++v) {
      double y = 0.0;
      for (int f = 0; f < nfakt; ++f) y += p[static_cast<std::size_t>(v) * nfakt + f] * c[static_cast<std::size_t>(f)];
      double u = (hard ? 0.1 : 0.05) * y + 0.002;
      double value = y + u * normal(rng);
      if (hard && uniform(rng) < 0.02) value *= 10.0;  // outlier
      if (uniform(rng) < 0.02) u = 0.0;  // missing
      std::fprintf(data, "\t%.4g\t%.3g", value, u);
    }
    std::fprintf(data, "\n");
  }
  std::fclose(data);
  return 0;
}
