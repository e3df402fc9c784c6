// The whole fit on synthetic data with known sources: starting from perturbed
// profiles, it must find the true profiles again.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "fit/iteration.h"
#include "support.h"

TEST(Recovery, FitFindsKnownProfilesFromAPerturbedStart) {
  const int nfakt = 3, nvar = 12, nrec = 400;
  // Each true source has a few marker variables the others lack.
  const double truth[nvar][nfakt] = {
      {5, 0, 0.5}, {3, 0.2, 0},  {1, 0, 0},   {0, 4, 0.3}, {0.2, 2, 0}, {0, 1, 0},
      {0, 0.3, 6}, {0.4, 0, 3},  {0, 0, 1.5}, {1, 1, 1},   {2, 0.5, 0}, {0, 2, 2},
  };
  std::mt19937 rng(2026);
  std::uniform_real_distribution<double> amount(0.0, 2.0);  // mean contribution 1
  std::normal_distribution<double> noise(0.0, 1.0);
  std::uniform_real_distribution<double> perturb(0.7, 1.3);

  TestModel m = make_model(nfakt, nvar, nrec);
  for (int s = 0; s < nrec; ++s) {
    double g[nfakt];
    for (double& gf : g) gf = amount(rng);
    for (int v = 0; v < nvar; ++v) {
      double value = 0;
      for (int f = 0; f < nfakt; ++f) value += truth[v][f] * g[f];
      double u = 0.02 * value + 0.01;
      std::size_t cell = static_cast<std::size_t>(s * nvar + v);
      m.rawdata[cell] = static_cast<float>(value + u * noise(rng));
      m.usik[cell] = static_cast<float>(u);
    }
  }
  for (int v = 0; v < nvar; ++v) {
    for (int f = 0; f < nfakt; ++f) {
      std::size_t e = static_cast<std::size_t>(v * nfakt + f);
      m.p[e] = truth[v][f] * perturb(rng) + 0.05;  // zeros start slightly off too
      m.fp[e] = 1;
    }
  }

  NoKeyboard keyboard;
  FitOptions options;
  options.passes = 300;
  std::FILE* console = std::tmpfile();
  run_fit(m, keyboard, options, console);
  std::fclose(console);

  // Criterion: every element within 5 % of the row's largest true element.
  for (int v = 0; v < nvar; ++v) {
    double row_max = 0;
    for (int f = 0; f < nfakt; ++f) row_max = std::max(row_max, truth[v][f]);
    for (int f = 0; f < nfakt; ++f) {
      EXPECT_NEAR(m.p[static_cast<std::size_t>(v * nfakt + f)], truth[v][f], 0.05 * row_max)
          << "variable " << v << " factor " << f;
    }
  }
  // chi2/ny of the final contribution step near 1, as the noise was drawn at the
  // stated uncertainties.
  double reduced = m.chi2 / m.nytot;
  EXPECT_GT(reduced, 0.8);
  EXPECT_LT(reduced, 1.2);
}
