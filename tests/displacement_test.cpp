// Held elements and displacement: a held element is a constraint the fit keeps
// (no rescaling absorbs it), every interval end is a fit with chi2 = base + dQmax,
// the intervals nest, a fit that is not at its minimum is reported, the fit's
// quadratic model predicts small moves, and the results do not depend on the
// number of threads.
#include <gtest/gtest.h>

#include <cmath>
#include <utility>

#include "control/text_table.h"
#include "displacement/displacement.h"
#include "displacement/hold.h"
#include "fit/element_response.h"
#include "fit/newton_fit.h"
#include "reference/random_model.h"
#include "support.h"

namespace {

// A small fitted problem: 2 factors, 5 variables, 80 records; each factor has
// one variable it does not hold (its element 0, held by the form), which fixes
// the rotation; every other element is free. Fitted to convergence.
TestModel fitted_model(long passes = -1) {
  ProblemShape shape;
  shape.nfakt = 2;
  shape.nvar = 5;
  shape.nrec = 80;
  shape.missing = 0.0;
  shape.held = 0.0;
  TestModel m = random_model(11, shape);
  m.p[0 * 2 + 1] = 0.0;  // F2 has no V1
  m.fp[0 * 2 + 1] = 0;
  m.p[4 * 2 + 0] = 0.0;  // F1 has no V5
  m.fp[4 * 2 + 0] = 0;
  m.start_from_p();
  NoKeyboard keyboard;
  FitOptions options;
  if (passes > 0) {
    options.passes = passes;
  } else {
    options.converge = 1e-8;
  }
  run_fit(m, keyboard, options, nullptr);
  return m;
}

// Two factors with nearly the same profile (F2 is F1 tilted by a few per cent
// across the variables), every element free: the records of fitted_model's
// contributions remixed from those profiles, with its residuals as the noise,
// and fitted to convergence. Displacing an element rotates the two factors into
// each other.
TestModel collinear_model() {
  TestModel m = fitted_model();
  for (std::size_t v = 0; v < 5; ++v) {
    m.p[v * 2 + 0] = 0.2 + 0.1 * static_cast<double>(v);
    m.p[v * 2 + 1] = m.p[v * 2 + 0] * (0.94 + 0.03 * static_cast<double>(v));
    m.fp[v * 2 + 0] = 1;
    m.fp[v * 2 + 1] = 1;
  }
  for (std::size_t s = 0; s < 80; ++s) {
    for (std::size_t v = 0; v < 5; ++v) {
      const double fit = m.p[v * 2] * m.x[s * 2] + m.p[v * 2 + 1] * m.x[s * 2 + 1];
      m.rawdata[s * 5 + v] = static_cast<float>(fit + 0.3 * static_cast<double>(m.dy[s * 5 + v]));
    }
  }
  m.start_from_p();
  NoKeyboard keyboard;
  FitOptions options;
  options.passes = 3000;
  run_fit(m, keyboard, options, nullptr);
  return m;
}

// The constrained fit of m (from its profiles) with `holds`.
FitState held_fit(const TestModel& m, const std::vector<HeldElement>& holds) {
  FitSettings settings = m;
  settings.converge = 1e-8;
  settings.passes = -1;
  settings.holds = holds;
  Problem held = holding(m, settings.holds);
  held.starting_p = m.p;
  FitState fit = FitState::sized_for(held);
  FitObserver quiet;
  run_fit(held, settings, fit, quiet);
  return fit;
}

FitState held_fit(const TestModel& m, int f, int v, double value) { return held_fit(m, {HeldElement{f, v, value}}); }

DisplacementRun displace(const TestModel& m, int threads, std::vector<double> levels = {4.0, 16.0},
                         long passes = -1) {
  FitSettings settings = m;
  settings.converge = 1e-8;
  settings.passes = passes;
  DisplacementSettings disp;
  disp.levels = std::move(levels);
  disp.threads = threads;
  disp.total = 4;
  FitObserver quiet;
  return run_displacement(m, m, settings, quiet, disp);
}

}  // namespace

TEST(Hold, HeldElementsAreKeptExactlyAndNotAbsorbedByRescaling) {
  const TestModel m = fitted_model();
  // Holds as (factor, variable, value over the fitted value). F1 has almost only
  // V1: a factor whose contributions could take up any change if their mean were
  // not held too.
  struct Held {
    int f;
    int v;
    double scale;
  };
  const struct {
    std::vector<Held> holds;
    bool moved;  // chi2 must rise
  } cases[] = {
      {{{1, 3, 1.0}}, false},
      {{{1, 4, 1.0}}, false},
      {{{1, 3, 0.8}}, true},
      {{{1, 3, 1.2}}, true},
      {{{1, 4, 0.8}}, true},
      {{{0, 0, 0.9}}, true},
      {{{0, 0, 1.1}}, true},
      {{{1, 3, 0.9}, {1, 4, 1.1}}, true},  // two holds on one factor
      {{{0, 0, 1.1}, {1, 3, 0.9}}, true},  // one on each factor
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    std::vector<HeldElement> holds;
    for (const Held& h : cases[i].holds) holds.push_back({h.f, h.v, h.scale * scale_free_element(m, m, h.f, h.v)});
    const FitState fit = held_fit(m, holds);
    // Element times the factor's final mean contribution is the value.
    for (const HeldElement& h : holds) {
      EXPECT_NEAR(scale_free_element(m, fit, h.factor, h.variable), h.value, 1e-9 * h.value) << i;
    }
    if (cases[i].moved) {
      EXPECT_GT(fit.chi2, m.chi2 + 1.0) << i;
    } else {
      EXPECT_NEAR(fit.chi2, m.chi2, 1e-6 * m.chi2) << i;
    }
  }
}

TEST(NewtonFit, ReachesTheMinimumTheAlternatingFitConvergesTo) {
  // Each case: the problem, where the Newton fit starts, what it holds; its chi2
  // must be that of the alternating fit run to convergence (held_fit, or the
  // converged fit itself), its held value kept exactly, and its profiles
  // rescaled to mean contributions of 1.
  const TestModel converged = fitted_model();
  const TestModel stopped = fitted_model(3);
  // The converged problem as a bootstrap replicate would hold it: records 0..9
  // repeated at the end, each naming its first occurrence.
  TestModel repeated = converged;
  repeated.nrec = 90;
  repeated.copy_of.resize(90);
  for (int s = 0; s < 90; ++s) repeated.copy_of[static_cast<std::size_t>(s)] = s < 80 ? s : s - 80;
  for (int s = 0; s < 10; ++s) {
    for (int v = 0; v < 5; ++v) {
      repeated.rawdata.push_back(converged.rawdata[static_cast<std::size_t>(s * 5 + v)]);
      repeated.usik.push_back(converged.usik[static_cast<std::size_t>(s * 5 + v)]);
    }
  }
  repeated.ids.clear();
  repeated.id_end.clear();
  TestModel apart = repeated;  // the same records, each counted on its own
  apart.copy_of.clear();
  const double own = scale_free_element(converged, converged, 1, 3);
  const struct {
    const TestModel* m;
    const TestModel* start;
    std::vector<HeldElement> holds;
  } cases[] = {
      {&converged, &converged, {}},                     // already at its minimum
      {&stopped, &stopped, {}},                         // three passes short of it
      {&converged, &converged, {{1, 3, own}}},          // held at its own value
      {&converged, &converged, {{1, 3, 0.7 * own}}},    // held down
      {&converged, &converged, {{1, 3, 1.4 * own}}},    // held up
      {&converged, &converged, {{0, 0, 1.1 * scale_free_element(converged, converged, 0, 0)}}},
      {&converged, &converged, {{1, 3, 0.0}}},          // held at 0
      {&repeated, &converged, {{1, 3, 0.8 * own}}},     // repeated records
      {&apart, &converged, {{1, 3, 0.8 * own}}},
  };
  std::vector<double> chi2;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const TestModel& m = *cases[i].m;
    FitSettings settings = m;
    settings.holds = cases[i].holds;
    Problem held = holding(m, settings.holds);
    held.starting_p = cases[i].start->p;
    ASSERT_TRUE(newton_fits(held, settings)) << i;
    FitState fit = FitState::sized_for(held);
    const NewtonOutcome outcome = newton_fit(held, settings, fit, NewtonStop{1e-7, 400});
    ASSERT_FALSE(outcome.failed) << i;
    EXPECT_TRUE(outcome.converged) << i;
    chi2.push_back(fit.chi2);
    double alternating = converged.chi2;
    if (&m != &converged || !settings.holds.empty()) {
      TestModel from = m;
      from.p = cases[i].start->p;
      alternating = held_fit(from, settings.holds).chi2;
    }
    EXPECT_NEAR(fit.chi2, alternating, 1e-5 * alternating) << i;
    EXPECT_LE(fit.chi2, alternating + 1e-6 * alternating) << i;
    for (const HeldElement& h : settings.holds) {
      EXPECT_NEAR(scale_free_element(held, fit, h.factor, h.variable), h.value, 1e-9 * (h.value + 1e-3)) << i;
    }
    for (int f = 0; f < m.nfakt; ++f) EXPECT_NEAR(fit.sum2[static_cast<std::size_t>(f)] / m.nrec, 1.0, 1e-3) << i;
  }
  EXPECT_NEAR(chi2[7], chi2[8], 1e-9 * chi2[8]);  // a repeat counts as the record itself
  EXPECT_GT(chi2[3], chi2[2] + 1.0);
  EXPECT_GT(chi2[4], chi2[2] + 1.0);
  // What the Newton fit leaves to the alternating one.
  const RobustWeighting weighting(4.0);
  FitSettings robust = converged;
  robust.reweighting = &weighting;
  FitSettings rotated = converged;
  rotated.rotate = 0.1f;
  FitSettings two = converged;
  two.holds = {{1, 3, own}, {0, 0, 1.0}};
  for (const FitSettings* settings : {&robust, &rotated, &two}) EXPECT_FALSE(newton_fits(converged, *settings));
}

TEST(ElementResponse, PredictsTheRiseOfChi2AndTheHeldFactorsProfile) {
  // At the fit's minimum, a small move t of an element (times its factor's mean
  // contribution), everything else refitted, raises chi2 by about (t / sigma)^2,
  // and the held factor's refitted profile lies near p + t * direction; an
  // element the form holds has no model.
  const TestModel m = fitted_model();
  FitSettings settings = m;
  FitState base = m;
  ASSERT_FALSE(newton_fit(m, settings, base, NewtonStop{1e-9, 400}).failed);
  const std::vector<ElementResponse> responses = element_responses(m, settings, base);
  ASSERT_EQ(responses.size(), m.p.size());
  EXPECT_EQ(responses[0 * 2 + 1].sigma, 0.0);  // F2 of V1, held by the form
  EXPECT_EQ(responses[4 * 2 + 0].sigma, 0.0);  // F1 of V5
  int checked = 0;
  for (int f = 0; f < 2; ++f) {
    for (int v = 0; v < 5; ++v) {
      const ElementResponse& response = responses[static_cast<std::size_t>(v * 2 + f)];
      // Elements the form holds have no model, nor have those the fit left at 0.
      if (m.fp[static_cast<std::size_t>(v * 2 + f)] == 0 || base.p[static_cast<std::size_t>(v * 2 + f)] == 0.0) continue;
      ASSERT_GT(response.sigma, 0.0) << f << v;
      const double q0 = scale_free_element(m, base, f, v);
      for (const double direction : {-1.0, 1.0}) {
        const double t = 0.5 * response.sigma;  // a rise of 0.25
        if (q0 - t <= 0.0) continue;
        settings.holds = {HeldElement{f, v, q0 + direction * t}};
        Problem held = holding(m, settings.holds);
        FitState fit = base;
        ASSERT_FALSE(newton_fit(held, settings, fit, NewtonStop{1e-10, 400}).failed);
        EXPECT_NEAR(fit.chi2 - base.chi2, 0.25, 0.05) << f << v << direction;
        double moved = 0.0;
        double missed = 0.0;
        for (int u = 0; u < 5; ++u) {
          const auto e = static_cast<std::size_t>(u * 2 + f);
          const double step = direction * t * response.direction[e];
          moved += step * step;
          missed += (base.p[e] + step - fit.p[e]) * (base.p[e] + step - fit.p[e]);
        }
        EXPECT_LT(std::sqrt(missed), 0.1 * std::sqrt(moved)) << f << v << direction;
        ++checked;
      }
    }
  }
  EXPECT_GE(checked, 8);

  // An element at 0 that chi2 pushes down (V3 of F1, its data lowered by F1's
  // share and more, so that its best value would lie below 0) models its upward
  // move alone: a rise of slope * t + (t / sigma)^2, its first-order term
  // included.
  TestModel low = fitted_model();
  for (int s = 0; s < low.nrec; ++s) {
    const auto at = static_cast<std::size_t>(s * 5 + 2);
    low.rawdata[at] -= static_cast<float>(1.5 * low.p[2 * 2 + 0] * low.x[static_cast<std::size_t>(s * 2)]);
  }
  FitState minimum = low;
  ASSERT_FALSE(newton_fit(low, settings = low, minimum, NewtonStop{1e-9, 400}).failed);
  ASSERT_EQ(minimum.p[2 * 2 + 0], 0.0);
  const ElementResponse at_zero = element_responses(low, settings, minimum)[2 * 2 + 0];
  ASSERT_GT(at_zero.sigma, 0.0);
  ASSERT_GT(at_zero.slope, 0.0);
  for (const double rise : {0.25, 1.0}) {
    const double a = 1.0 / (at_zero.sigma * at_zero.sigma);
    const double t = 2.0 * rise / (at_zero.slope + std::sqrt(at_zero.slope * at_zero.slope + 4.0 * a * rise));
    settings.holds = {HeldElement{0, 2, t}};
    FitState fit = minimum;
    ASSERT_FALSE(newton_fit(holding(low, settings.holds), settings, fit, NewtonStop{1e-10, 400}).failed);
    EXPECT_NEAR(fit.chi2 - minimum.chi2, rise, 0.2 * rise) << rise;
  }
}

TEST(Hold, ReadsFactorVariableAndValueOrSaysWhatIsWrong) {
  TestModel m = fitted_model(3);
  m.fp[0] = 0;  // F1 of V1 held by the form
  const HeldElement held = parse_hold(m, "F2:V3=0.5");
  EXPECT_EQ(held.factor, 1);
  EXPECT_EQ(held.variable, 2);
  EXPECT_EQ(held.value, 0.5);
  const struct {
    const char* text;
    const char* message;
  } refused[] = {
      {"F2V3", "Error: --hold needs FACTOR:VARIABLE=VALUE, not 'F2V3'!\n"},
      {"F9:V3=1", "Error: --hold F9:V3=1: no factor of that name!\n"},
      {"F1:V9=1", "Error: --hold F1:V9=1: no variable of that name!\n"},
      {"F1:V2=-1", "Error: --hold F1:V2=-1: the value must be a number of at least 0!\n"},
      {"F1:V2=x", "Error: --hold F1:V2=x: the value must be a number of at least 0!\n"},
      {"F1:V1=1", "Error: --hold F1:V1=1: the form holds that element already!\n"},
  };
  for (const auto& c : refused) EXPECT_EQ(failure_of([&] { parse_hold(m, c.text); }), c.message) << c.text;
  EXPECT_EQ(holds_text(m, {held, HeldElement{0, 1, 2.0}}), "held F2:V3=0.5, F1:V2=2");
}

TEST(Displacement, IntervalEndsAreFitsAtBasePlusLevelAndNest) {
  const TestModel m = fitted_model();
  const DisplacementRun run = displace(m, 2, {4.0, 8.0, 16.0, 32.0});
  ASSERT_EQ(run.elements.size(), 8u);
  EXPECT_EQ(run.not_run, 0);
  EXPECT_FALSE(run.decreased());
  EXPECT_EQ(run.swaps, (std::vector<int>{0, 0, 0, 0}));  // the rotation is fixed by the form
  for (const ElementInterval& e : run.elements) {
    for (std::size_t k = 0; k < run.levels.size(); ++k) {
      EXPECT_LE(e.low[k], e.base);
      EXPECT_GE(e.high[k], e.base);
      if (k > 0) {
        EXPECT_LE(e.low[k], e.low[k - 1]) << e.factor << " " << e.variable;
        EXPECT_GE(e.high[k], e.high[k - 1]) << e.factor << " " << e.variable;
      }
    }
  }
  // A refit held at an end has chi2 = base + dQmax (a lower end at 0 may stay below).
  for (std::size_t i : {1u, 6u}) {
    const ElementInterval& e = run.elements[i];
    for (std::size_t k = 0; k < run.levels.size(); ++k) {
      ASSERT_TRUE(std::isfinite(e.high[k]));
      const double up = held_fit(m, e.factor, e.variable, e.high[k]).chi2 - m.chi2;
      EXPECT_NEAR(up, run.levels[k], 2 * kLevelTolerance * run.levels[k]) << i << " " << k;
      const double down = held_fit(m, e.factor, e.variable, e.low[k]).chi2 - m.chi2;
      if (e.low[k] > 0) {
        EXPECT_NEAR(down, run.levels[k], 2 * kLevelTolerance * run.levels[k]) << i << " " << k;
      } else {
        EXPECT_LE(down, run.levels[k] * (1 + kLevelTolerance)) << i << " " << k;
      }
    }
  }
  // The total's elements carry the factor's share at each end.
  for (const ElementInterval& e : run.elements) {
    EXPECT_EQ(e.share_low.empty(), e.variable != 4);
  }
}

TEST(Displacement, SameTablesForOneTwoAndThreeThreads) {
  const TestModel m = fitted_model();
  const DisplacementRun one = displace(m, 1, {4.0});
  const std::string table = tsv_text(displacement_table(m, one)) + tsv_text(displacement_summary_table(one));
  for (int threads : {2, 3}) {
    const DisplacementRun run = displace(m, threads, {4.0});
    EXPECT_EQ(tsv_text(displacement_table(m, run)) + tsv_text(displacement_summary_table(run)), table) << threads;
  }
}

TEST(Displacement, BaseOffItsMinimumIsReported) {
  // Stopped after 3 passes, the base is far from its minimum: the displaced fits,
  // run to convergence, reach a lower chi2.
  const TestModel m = fitted_model(3);
  const DisplacementRun run = displace(m, 2, {4.0});
  EXPECT_TRUE(run.decreased());
  EXPECT_GT(run.largest_decrease[0], 1.0);
  EXPECT_NE(displacement_summary(run).find("WARNING: a displaced fit reached a lower chi2"), std::string::npos);
}

TEST(Displacement, NearlyCollinearFactorsSwap) {
  const TestModel m = collinear_model();
  const DisplacementRun run = displace(m, 2, {4.0}, 100);
  EXPECT_GT(run.swaps[0], 0);
}

TEST(Displacement, SwapIsAFactorMatchingAnotherOneBest) {
  // Contributions of 2 factors and a constant offset column over 6 records.
  const std::vector<double> base = {1, 0, 1, 2, 1, 1, 3, 0.5, 1, 0, 2, 1, 1, 1, 1, 2, 3, 1};
  const struct {
    std::vector<double> other;
    int offset;
    bool swapped;
  } cases[] = {
      {base, 0, false},
      {{0.9, 0.1, 1, 2.1, 1, 1, 2.8, 0.6, 1, 0.2, 2, 1, 1, 1.1, 1, 2, 2.9, 1}, 0, false},  // near the base
      {{0, 1, 1, 1, 2, 1, 0.5, 3, 1, 2, 0, 1, 1, 1, 1, 3, 2, 1}, 0, true},                // factors 1 and 2 swapped
  };
  for (const auto& c : cases) {
    EXPECT_EQ(factors_swapped({base.data(), 6, 3}, {c.other.data(), 6, 3}), c.swapped);
  }
}

TEST(Displacement, LevelsAreRisingPositiveNumbers) {
  EXPECT_EQ(parse_levels("4,8,16,32"), (std::vector<double>{4, 8, 16, 32}));
  EXPECT_EQ(parse_levels("0.5"), (std::vector<double>{0.5}));
  for (const char* text : {"", "4,", "8,4", "4,4", "0", "-1", "4;8", "inf"}) {
    EXPECT_EQ(failure_of([&] { parse_levels(text); }),
              std::string("Error: --disp-levels needs rising positive numbers separated by commas, not '") + text +
                  "'!\n")
        << text;
  }
}
