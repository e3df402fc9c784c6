#include "fit/residue.h"

#include <gtest/gtest.h>

#include "support.h"

TEST(Residue, WorstVariableGivesTheProfileAndContributionsSumToOne) {
  // Residuals (1, 2) and (2, 4), uncertainties 1: c = 5 and 20, vmax = 1,
  // r = (0.5, 1) before rescaling, raw t = 2 and 4, ttot = 6.
  TestModel m = make_model(1, 2, 2);
  m.dy = {1, 2, 2, 4};
  m.usik = {1, 1, 1, 1};
  residue(m);
  EXPECT_DOUBLE_EQ(m.t[0], 1.0 / 3);
  EXPECT_DOUBLE_EQ(m.t[1], 2.0 / 3);
  EXPECT_EQ(m.r[0], 3.0f);
  EXPECT_EQ(m.r[1], 6.0f);
}

TEST(Residue, ProportionalResidualsAreReproducedExactly) {
  // Every record's residuals are a multiple of (1, -2, 0.5).
  TestModel m = make_model(1, 3, 3);
  const float shape[] = {1.0f, -2.0f, 0.5f};
  const float amount[] = {1.0f, 3.0f, -0.5f};
  for (int s = 0; s < 3; ++s) {
    for (int v = 0; v < 3; ++v) m.dy[static_cast<std::size_t>(s * 3 + v)] = amount[s] * shape[v];
  }
  m.usik.assign(9, 0.5f);
  residue(m);
  for (int s = 0; s < 3; ++s) {
    for (int v = 0; v < 3; ++v) {
      EXPECT_NEAR(static_cast<double>(m.r[static_cast<std::size_t>(v)]) * m.t[static_cast<std::size_t>(s)],
                  static_cast<double>(m.dy[static_cast<std::size_t>(s * 3 + v)]), 1e-6);
    }
  }
}

TEST(Residue, TieKeepsTheFirstVariable) {
  // Both variables have c = 4; the first is vmax, so r[0] comes out as ttot * 1.
  TestModel m = make_model(1, 2, 1);
  m.dy = {2, -2};
  m.usik = {1, 1};
  residue(m);
  // r before rescaling: (1, -1); num = 2 + 2 = 4, den = 2, t = 2, ttot = 2.
  EXPECT_EQ(m.r[0], 2.0f);
  EXPECT_EQ(m.r[1], -2.0f);
  EXPECT_EQ(m.t[0], 1.0);
}

TEST(Residue, PerfectFitOrNothingMeasuredGivesNoResidue) {
  TestModel perfect = make_model(1, 2, 2);
  perfect.usik = {1, 1, 1, 1};
  TestModel unmeasured = make_model(1, 2, 2);
  unmeasured.dy = {1, 2, 3, 4};
  for (TestModel* m : {&perfect, &unmeasured}) {
    residue(*m);
    EXPECT_EQ(m->r, (std::vector<float>{0, 0}));
    EXPECT_EQ(m->t, (std::vector<double>{0, 0}));
  }
}

TEST(Residue, RecordWithNothingMeasuredHoldsNoResidue) {
  // The example of the first test with an unmeasured record between its two: that
  // record gets t = 0 and the others are as without it.
  TestModel m = make_model(1, 2, 3);
  m.dy = {1, 2, 5, 7, 2, 4};
  m.usik = {1, 1, 0, -1, 1, 1};
  residue(m);
  EXPECT_DOUBLE_EQ(m.t[0], 1.0 / 3);
  EXPECT_EQ(m.t[1], 0.0);
  EXPECT_DOUBLE_EQ(m.t[2], 2.0 / 3);
  EXPECT_EQ(m.r[0], 3.0f);
  EXPECT_EQ(m.r[1], 6.0f);

  // The third record measured only in a variable whose residue profile is 0
  // (its residuals cross those of the worst variable nowhere): t = 0 too.
  TestModel blind = make_model(1, 3, 3);
  blind.dy = {1, 2, 0, 2, 4, 0, 0, 0, 1};
  blind.usik = {1, 1, 1, 1, 1, 1, 0, 0, 1};
  residue(blind);
  EXPECT_DOUBLE_EQ(blind.t[0], 1.0 / 3);
  EXPECT_EQ(blind.t[2], 0.0);
  EXPECT_DOUBLE_EQ(blind.t[1], 2.0 / 3);
  EXPECT_EQ(blind.r, (std::vector<float>{3, 6, 0}));
}
