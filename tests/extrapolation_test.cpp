#include "fit/extrapolation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "reference/random_model.h"
#include "support.h"

namespace {

// A fit of m (accelerated or not) with a pass limit and a convergence tolerance.
FitOutcome fit(TestModel& m, bool accelerate, long passes, double converge = 0.0) {
  NoKeyboard keyboard;
  m.accelerate = accelerate;
  return run_fit(m, keyboard, FitOptions{passes, converge, false, false}, nullptr);
}

// A small problem whose fit creeps: the profiles start with every free element
// off by up to half its value, and the fit takes hundreds of passes to settle
// (seed 6: 263 passes to --converge 1e-6; seed 5 has not settled after 3000).
TestModel slow_valley(std::uint64_t seed) {
  ProblemShape shape;
  shape.nfakt = 3;
  shape.nvar = 8;
  shape.nrec = 40;
  shape.held = 0.0;
  shape.missing = 0.0;
  TestModel m = random_model(seed, shape);
  perturb_profiles(m, seed, 1);
  m.start_from_p();
  return m;
}

}  // namespace

TEST(Extrapolation, AndersonStepLandsOnTheFixedPointOfALinearMap) {
  // Passes of the map x -> A x + b from x0; with as many differences as dimensions
  // the step solves the map's fixed point (I - A) x = b, up to the ridge (which
  // moves it by about 1e-5 of it when the changes are nearly parallel).
  struct Case {
    const char* name;
    std::vector<double> a;  // row-major, 2 x 2
    std::vector<double> b;
  };
  const Case cases[] = {
      {"slow contraction", {0.99, 0.0, 0.0, 0.5}, {1.0, 2.0}},
      {"coupled, one slow mode", {0.9, 0.09, 0.05, 0.9}, {0.3, 0.1}},
      {"zig-zag", {-0.8, 0.1, 0.0, 0.95}, {1.0, -1.0}},
  };
  for (const Case& c : cases) {
    const double det = (1.0 - c.a[0]) * (1.0 - c.a[3]) - c.a[1] * c.a[2];
    const double fixed0 = ((1.0 - c.a[3]) * c.b[0] + c.a[1] * c.b[1]) / det;
    const double fixed1 = (c.a[2] * c.b[0] + (1.0 - c.a[0]) * c.b[1]) / det;
    std::vector<PassMap> passes;
    std::vector<double> x = {3.0, -2.0};
    for (int k = 0; k < 3; ++k) {
      const std::vector<double> g = {c.a[0] * x[0] + c.a[1] * x[1] + c.b[0], c.a[2] * x[0] + c.a[3] * x[1] + c.b[1]};
      passes.push_back(PassMap{x, g});
      x = g;
    }
    std::vector<double> next;
    ASSERT_TRUE(anderson_step(passes, &next)) << c.name;
    EXPECT_NEAR(next[0], fixed0, 1e-4 * (1.0 + std::fabs(fixed0))) << c.name;
    EXPECT_NEAR(next[1], fixed1, 1e-4 * (1.0 + std::fabs(fixed1))) << c.name;
  }
  // Passes that did not move give no system to solve.
  const std::vector<PassMap> still = {{{1.0, 2.0}, {1.0, 2.0}}, {{1.0, 2.0}, {1.0, 2.0}}};
  std::vector<double> next = {7.0};
  EXPECT_FALSE(anderson_step(still, &next));
  EXPECT_EQ(next, std::vector<double>{7.0});
}

TEST(Extrapolation, HeldElementsKeepTheirValueAndNoElementGoesNegative) {
  TestModel m = make_model(2, 3, 1);
  m.fp = {1, 0, 1, 1, 0, 1};
  const std::vector<double> p = {0.5, 0.25, 0.0, 2.0, 0.0, 1.0};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> pushed = {0.75, 9.0, -1e-9, 0.0, -3.0, nan};
  keep_bounds(m, p, &pushed);
  // free: kept; held: p's value; free below zero: 0; free zero: 0; held: p's value; free NaN: 0.
  EXPECT_EQ(pushed, (std::vector<double>{0.75, 0.25, 0.0, 0.0, 0.0, 0.0}));
}

TEST(Extrapolation, IsKeptOnlyWhenItsChi2IsBelowTheOrdinaryPasss) {
  for (const double alpha : {0.0, 2.0}) {
    TestModel start = slow_valley(5);  // moves throughout
    start.alpha = alpha;
    TestModel m = start;
    const FitOutcome outcome = fit(m, true, 120);
    ASSERT_GT(outcome.extrapolated.size(), 2u) << alpha;
    EXPECT_GT(outcome.extrapolations_tried, static_cast<long>(outcome.extrapolated.size())) << alpha;
    // The free elements stay non-negative, whatever was extrapolated.
    for (std::size_t at = 0; at < m.p.size(); ++at) EXPECT_GE(m.p[at], 0.0) << alpha;
    // The same fit stopped at the start of an accepted pass runs only that pass's
    // ordinary contribution step: its chi2 is what the extrapolation beat.
    for (std::size_t k = 0; k < 3; ++k) {
      const long pass = outcome.extrapolated[k];
      TestModel ordinary = start;
      fit(ordinary, true, pass - 1);
      EXPECT_LT(outcome.lines[static_cast<std::size_t>(pass) - 1].chi2, ordinary.chi2) << alpha << " pass " << pass;
    }
  }
}

TEST(Extrapolation, SlowValleyReachesTheSameChi2InFarFewerPasses) {
  // The same stop (--converge 1e-6) comes after 55 passes instead of 263, at a
  // chi2 within 1e-7 of it.
  TestModel plain = slow_valley(6);
  TestModel accelerated = plain;
  const FitOutcome long_run = fit(plain, false, 3000, 1e-6);
  const FitOutcome short_run = fit(accelerated, true, 3000, 1e-6);
  ASSERT_EQ(long_run.reason, StopReason::converged);
  ASSERT_EQ(short_run.reason, StopReason::converged);
  EXPECT_NEAR(accelerated.chi2, plain.chi2, 1e-7 * plain.chi2);
  EXPECT_LT(short_run.passes * 3, long_run.passes) << short_run.passes << " against " << long_run.passes;
}
