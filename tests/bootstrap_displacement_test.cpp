// Displacement within bootstrap replicates: the replicates are the bootstrap's
// for the same seed, each element's interval holds every mapped replicate's own
// value at every level and the levels nest, and the tables are the same bytes for
// every number of threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "displacement/bootstrap_displacement.h"
#include "displacement/hold.h"
#include "ensemble/blocks.h"
#include "ensemble/bootstrap.h"
#include "ensemble/tsv_text.h"
#include "reference/random_model.h"
#include "support.h"

namespace {

// 2 factors, 5 variables, 60 records; each factor lacks one variable (held at 0
// by the form), which fixes the rotation. Fitted to convergence.
TestModel fitted_model() {
  ProblemShape shape;
  shape.nfakt = 2;
  shape.nvar = 5;
  shape.nrec = 60;
  shape.missing = 0.0;
  shape.held = 0.0;
  TestModel m = random_model(17, shape);
  m.p[0 * 2 + 1] = 0.0;
  m.fp[0 * 2 + 1] = 0;
  m.p[4 * 2 + 0] = 0.0;
  m.fp[4 * 2 + 0] = 0;
  m.start_from_p();
  NoKeyboard keyboard;
  FitOptions options;
  options.converge = 1e-8;
  run_fit(m, keyboard, options, nullptr);
  return m;
}

FitSettings replicate_settings(const TestModel& m) {
  FitSettings settings = m;
  settings.converge = 1e-6;
  settings.passes = 2000;
  return settings;
}

BootstrapDisplacementSettings bs_settings(int threads) {
  BootstrapDisplacementSettings settings;
  settings.replicates = 4;
  settings.block = 5;
  settings.seed = 7;
  settings.levels = {0.5, 2.0};
  settings.threads = threads;
  return settings;
}

}  // namespace

// Replicate i is the bootstrap's replicate i: the same records, so the same fit
// (its chi2, and the profiles the bootstrap keeps for the factor mapped); and
// every level's interval of an element holds the replicate's own value of the
// element of the factor mapped to its factor; lower levels lie inside higher ones.
TEST(BootstrapDisplacement, ReplicatesAreTheBootstrapsAndIntervalsHoldTheirValues) {
  const TestModel m = fitted_model();
  const FitSettings settings = replicate_settings(m);
  FitObserver quiet;
  const BootstrapDisplacementRun run = run_bootstrap_displacement(m, m, settings, quiet, bs_settings(2));
  ASSERT_EQ(run.fitted, 4);
  EXPECT_EQ(run.block, 5);
  EXPECT_GT(run.fits, 0);

  BootstrapSettings bootstrap;
  bootstrap.replicates = 4;
  bootstrap.block = 5;
  bootstrap.seed = 7;
  bootstrap.threads = 2;
  const BootstrapRun boot = run_bootstrap(m, m, settings, quiet, bootstrap);
  ASSERT_EQ(boot.fitted, 4);

  std::vector<std::size_t> taken(4, 0);  // per base factor and variable: bootstrap values used
  for (int i = 0; i < 4; ++i) {
    const std::vector<int> records = replicate_records(m.nrec, 5, 7, i);
    Problem replicate = replicate_problem(m, m.p, records);
    FitState fit = FitState::sized_for(replicate);
    FitSettings one = settings;
    one.threads = 1;
    run_fit(replicate, one, fit, quiet);
    EXPECT_EQ(fit.chi2, run.chi2[static_cast<std::size_t>(i)]) << "replicate " << i;
    const std::vector<FactorMatch> mapping = map_replicate(m, m, records, fit, 0.6);
    for (int f = 0; f < 2; ++f) {
      const int j = mapping[static_cast<std::size_t>(f)].factor;
      if (j < 0) continue;
      // The bootstrap kept this replicate's element of factor j for base factor f.
      const std::vector<double>& kept = boot.values[static_cast<std::size_t>(f * 5 + 2)];
      ASSERT_LT(taken[static_cast<std::size_t>(f)], kept.size());
      EXPECT_EQ(kept[taken[static_cast<std::size_t>(f)]++], fit.p[2 * 2 + static_cast<std::size_t>(j)]);
      for (const ElementInterval& element : run.elements) {
        if (element.factor != f) continue;
        const double own = scale_free_element(replicate, fit, j, element.variable);
        for (std::size_t k = 0; k < run.levels.size(); ++k) {
          EXPECT_LE(element.low[k], own * (1 + 1e-12)) << f << " " << element.variable << " level " << k;
          EXPECT_GE(element.high[k], own * (1 - 1e-12)) << f << " " << element.variable << " level " << k;
          if (k == 0) continue;
          EXPECT_LE(element.low[k], element.low[k - 1]);
          EXPECT_GE(element.high[k], element.high[k - 1]);
        }
      }
    }
  }
}

// The same seed gives the same tables and console lines for 1, 2 and 3 threads.
TEST(BootstrapDisplacement, SameBytesForEveryNumberOfThreads) {
  const TestModel m = fitted_model();
  const FitSettings settings = replicate_settings(m);
  FitObserver quiet;
  std::string first;
  for (int threads : {1, 2, 3}) {
    const BootstrapDisplacementRun run = run_bootstrap_displacement(m, m, settings, quiet, bs_settings(threads));
    const std::string text = tsv_text(bootstrap_displacement_table(m, run)) +
                             tsv_text(bootstrap_displacement_summary_table(run)) +
                             bootstrap_displacement_summary(run);
    if (threads == 1) {
      first = text;
      EXPECT_NE(text.find("Bootstrap displacement: 4 replicates in blocks of 5 records: 4 fitted"), std::string::npos)
          << text;
    } else {
      EXPECT_EQ(text, first) << threads << " threads";
    }
  }
}

// --bs-disp-levels: rising positive numbers, and the message names the option.
TEST(BootstrapDisplacement, LevelsAreReadOrRefusedNamingTheOption) {
  EXPECT_EQ(parse_bootstrap_levels("0.5,1,2,4"), (std::vector<double>{0.5, 1.0, 2.0, 4.0}));
  for (const char* text : {"", "1,1", "2,1", "0,1", "a"}) {
    EXPECT_EQ(failure_of([&] { parse_bootstrap_levels(text); }).rfind("Error: --bs-disp-levels needs rising positive", 0), 0u)
        << "'" << text << "'";
  }
}
