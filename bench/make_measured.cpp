// Writes synthetic measured tables with known sources, in the form analysts hold
// them: concentrations.csv and uncertainties.csv (comma-separated, first column the
// sample identifier, one column per species) and truth.tsv, the true profiles
// (species x sources). Each source has a few marker species and a low background;
// contributions are skewed and often zero; values carry noise of the size of their
// uncertainty (15 % of the value plus 0.05), so sources overlap and blur. The
// random numbers come from splitmix64, so the files are the same on every platform.
// With OVERLAP a (0 to 1), each source's profile is mixed with the next one's,
// (1 - a) f_c + a f_(c+1) (the last with the first), after all are drawn: nearly
// collinear sources, whose fits can end in several minima. Without it (or 0), the
// files are those of the five arguments.
//
//   make_measured NSAMPLES NSPECIES NSOURCES SEED FOLDER [OVERLAP]
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double normal() {  // Box-Muller
    double a = uniform(), b = uniform();
    return std::sqrt(-2.0 * std::log(1.0 - a)) * std::cos(6.283185307179586 * b);
  }
};

std::FILE* create(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::fprintf(stderr, "make_measured: cannot create %s\n", path.c_str());
    std::exit(1);
  }
  return f;
}

void number(std::string& out, double value) {
  char buf[32];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, static_cast<float>(value)).ptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 7) {
    std::fprintf(stderr, "usage: make_measured NSAMPLES NSPECIES NSOURCES SEED FOLDER [OVERLAP]\n");
    return 1;
  }
  const long n = std::atol(argv[1]);
  const int m = std::atoi(argv[2]);
  const int k = std::atoi(argv[3]);
  Random rng{std::strtoull(argv[4], nullptr, 10)};
  const std::string folder = argv[5];
  const double overlap = argc == 7 ? std::atof(argv[6]) : 0.0;

  std::vector<double> f(static_cast<std::size_t>(k) * static_cast<std::size_t>(m));
  for (int c = 0; c < k; ++c) {
    for (int j = 0; j < m; ++j) {
      const bool marker = j % k == c || rng.uniform() < 0.25;
      f[static_cast<std::size_t>(c * m + j)] = marker ? 0.2 + rng.uniform() : 0.05 * rng.uniform();
    }
  }
  if (overlap > 0) {
    const std::vector<double> drawn = f;
    for (int c = 0; c < k; ++c) {
      const int next = (c + 1) % k;
      for (int j = 0; j < m; ++j) {
        f[static_cast<std::size_t>(c * m + j)] = (1.0 - overlap) * drawn[static_cast<std::size_t>(c * m + j)] +
                                                 overlap * drawn[static_cast<std::size_t>(next * m + j)];
      }
    }
  }
  std::FILE* truth = create(folder + "/truth.tsv");
  for (int c = 0; c < k; ++c) std::fprintf(truth, "\tS%d", c + 1);
  std::fprintf(truth, "\n");
  for (int j = 0; j < m; ++j) {
    std::fprintf(truth, "X%d", j + 1);
    for (int c = 0; c < k; ++c) std::fprintf(truth, "\t%.9g", f[static_cast<std::size_t>(c * m + j)]);
    std::fprintf(truth, "\n");
  }
  std::fclose(truth);

  std::FILE* conc = create(folder + "/concentrations.csv");
  std::FILE* unc = create(folder + "/uncertainties.csv");
  std::string head = "Sample";
  for (int j = 0; j < m; ++j) head += ",X" + std::to_string(j + 1);
  head += '\n';
  std::fputs(head.c_str(), conc);
  std::fputs(head.c_str(), unc);
  std::vector<double> g(static_cast<std::size_t>(k));
  std::string a, b;
  for (long s = 0; s < n; ++s) {
    for (int c = 0; c < k; ++c) g[static_cast<std::size_t>(c)] = rng.uniform() < 0.3 ? 0.0 : std::exp(rng.normal());
    a = "s" + std::to_string(s + 1);
    b = a;
    for (int j = 0; j < m; ++j) {
      double x = 0.0;
      for (int c = 0; c < k; ++c) x += g[static_cast<std::size_t>(c)] * f[static_cast<std::size_t>(c * m + j)];
      const double u = 0.15 * x + 0.05;
      a += ',';
      number(a, x + u * rng.normal());
      b += ',';
      number(b, u);
    }
    a += '\n';
    b += '\n';
    std::fputs(a.c_str(), conc);
    std::fputs(b.c_str(), unc);
  }
  std::fclose(conc);
  std::fclose(unc);
  return 0;
}
