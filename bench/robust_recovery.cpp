// How well a fit finds known sources in data with gross outliers, with and
// without robust mode, from the same start. The synthetic set is made here from
// a fixed seed: known profiles and contributions, noise at the stated
// uncertainties, and a given share of values raised by 10 to 50 uncertainties
// (contamination only ever adds). Prints, per fit, the mean and the lowest
// correlation over the factors of the fitted profiles (across variables) and
// contributions (across records) with the true ones, how the fit stopped, and
// the pass with the lowest chi2/ny.
//
//   robust_recovery [PASSES [OUTLIER_SHARE [ALPHA [SEED]]]]   (defaults 3000 0.1 4 14)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "fit/iteration.h"
#include "reference/random_model.h"

namespace {

constexpr int kFakt = 5, kVar = 25, kRec = 500;

struct Truth {
  std::vector<double> p;  // kVar x kFakt
  std::vector<double> g;  // kRec x kFakt
};

// The data set and the starting model (tables sized as the readers leave them).
TestModel make_problem(double outliers, std::uint64_t seed, Truth& truth) {
  ProblemShape shape;
  shape.nfakt = kFakt;
  shape.nvar = kVar;
  shape.nrec = kRec;
  TestModel m = random_model(seed, shape);
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  truth.p.assign(static_cast<std::size_t>(kVar * kFakt), 0.0);
  truth.g.assign(static_cast<std::size_t>(kRec * kFakt), 0.0);
  // Every source has five marker variables of its own and, on about half of the
  // others, a background of up to half the smallest marker, so the sources overlap.
  for (int v = 0; v < kVar; ++v) {
    for (int f = 0; f < kFakt; ++f) {
      const bool marker = v % kFakt == f;
      truth.p[static_cast<std::size_t>(v * kFakt + f)] =
          marker ? 0.5 + uniform(rng) : (uniform(rng) < 0.5 ? 0.25 * uniform(rng) : 0.0);
    }
  }
  for (int s = 0; s < kRec; ++s) {
    for (int f = 0; f < kFakt; ++f) {
      truth.g[static_cast<std::size_t>(s * kFakt + f)] = uniform(rng) < 0.2 ? 0.0 : -std::log(uniform(rng) + 1e-12);
    }
    for (int v = 0; v < kVar; ++v) {
      double y = 0.0;
      for (int f = 0; f < kFakt; ++f) {
        y += truth.p[static_cast<std::size_t>(v * kFakt + f)] * truth.g[static_cast<std::size_t>(s * kFakt + f)];
      }
      const double u = 0.1 * y + 0.02;
      double value = y + u * normal(rng);
      if (uniform(rng) < outliers) value += u * (10.0 + 40.0 * uniform(rng));
      const auto cell = static_cast<std::size_t>(s * kVar + v);
      m.rawdata[cell] = static_cast<float>(value);
      m.usik[cell] = static_cast<float>(u);
    }
  }
  for (std::size_t e = 0; e < truth.p.size(); ++e) {
    m.p[e] = truth.p[e] * (0.6 + 0.8 * uniform(rng)) + 0.02;
    m.fp[e] = 1;
  }
  m.rotate = 0.0f;
  m.damp = 10;
  m.threads = 2;
  return m;
}

// Pearson correlation of column f of two row-major tables with `columns` columns.
double correlation(const std::vector<double>& a, const std::vector<double>& b, int rows, int columns, int f) {
  double ma = 0.0, mb = 0.0;
  for (int r = 0; r < rows; ++r) {
    ma += a[static_cast<std::size_t>(r * columns + f)];
    mb += b[static_cast<std::size_t>(r * columns + f)];
  }
  ma /= rows;
  mb /= rows;
  double sab = 0.0, saa = 0.0, sbb = 0.0;
  for (int r = 0; r < rows; ++r) {
    const double da = a[static_cast<std::size_t>(r * columns + f)] - ma;
    const double db = b[static_cast<std::size_t>(r * columns + f)] - mb;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  return sab / std::sqrt(saa * sbb);
}

void report(const char* name, const TestModel& start, const Truth& truth, long passes, double alpha) {
  TestModel m = start;
  m.alpha = alpha;
  NoKeyboard keyboard;
  FitOptions options;
  options.passes = passes;
  std::FILE* console = std::tmpfile();
  const FitOutcome outcome = run_fit(m, keyboard, options, console);
  // The pass with the lowest chi2/ny, from the statistics lines.
  std::rewind(console);
  double best = 0.0;
  long best_pass = 0, pass = 0;
  double ratio = 0.0, sumsq = 0.0;
  int ny = 0;
  while (std::fscanf(console, "%lf %d %lf", &ratio, &ny, &sumsq) == 3) {
    ++pass;
    if (best_pass == 0 || ratio < best) {
      best = ratio;
      best_pass = pass;
    }
  }
  std::fclose(console);

  double p_mean = 0.0, p_min = 1.0, g_mean = 0.0, g_min = 1.0;
  for (int f = 0; f < kFakt; ++f) {
    const double cp = correlation(m.p, truth.p, kVar, kFakt, f);
    const double cg = correlation(m.x, truth.g, kRec, kFakt, f);
    p_mean += cp / kFakt;
    g_mean += cg / kFakt;
    p_min = std::min(p_min, cp);
    g_min = std::min(g_min, cg);
  }
  const char* how = outcome.reason == StopReason::diverged ? "diverged" : "ran to the pass limit";
  std::printf("%-8s profiles r mean %.4f min %.4f | contributions r mean %.4f min %.4f | %s",
              name, p_mean, p_min, g_mean, g_min, how);
  if (outcome.reason == StopReason::diverged) std::printf(" in pass %ld", outcome.diverged_pass);
  std::printf(" | lowest chi2/ny %.6g in pass %ld of %ld, final %.6g\n", best, best_pass, outcome.passes,
              m.chi2 / m.nytot);
}

}  // namespace

int main(int argc, char** argv) {
  const long passes = argc > 1 ? std::atol(argv[1]) : 3000;
  const double outliers = argc > 2 ? std::atof(argv[2]) : 0.1;
  const double alpha = argc > 3 ? std::atof(argv[3]) : 4.0;
  const std::uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 14;
  Truth truth;
  const TestModel start = make_problem(outliers, seed, truth);
  std::printf("%d records x %d variables x %d factors, %.0f %% of values raised by 10 to 50 u, seed %llu, "
              "%ld passes\n",
              kRec, kVar, kFakt, 100.0 * outliers, static_cast<unsigned long long>(seed), passes);
  report("plain", start, truth, passes, 0.0);
  const std::string robust = "robust " + std::to_string(alpha).substr(0, 4);
  report(robust.c_str(), start, truth, passes, alpha);
  return 0;
}
