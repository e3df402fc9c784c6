#include "engine/engine.h"

#include <gtest/gtest.h>

#include <vector>

#include "support.h"

namespace {

// One record over the given profile rows (nvar x nfakt), values and uncertainties.
TestModel one_record(int nfakt, std::vector<double> p, std::vector<float> values, std::vector<float> usik,
                 int offset = 0) {
  int nvar = static_cast<int>(values.size());
  TestModel m = make_model(nfakt, nvar, 1);
  m.p = std::move(p);
  m.rawdata = std::move(values);
  m.usik = std::move(usik);
  m.offset = offset;
  return m;
}

}  // namespace

TEST(ContributionStep, ExactMixIsRecoveredWithZeroResiduals) {
  // Profiles (1, 0), (0, 1), (1, 1); the record is 2 x factor 0 + 3 x factor 1.
  TestModel m = one_record(2, {1, 0, 0, 1, 1, 1}, {2, 3, 5}, {1, 1, 1});
  contribution_step(m, 0);
  EXPECT_NEAR(m.x[0], 2.0, 1e-12);
  EXPECT_NEAR(m.x[1], 3.0, 1e-12);
  for (float d : m.dy) EXPECT_NEAR(d, 0.0f, 1e-6f);
  EXPECT_EQ(m.nytot, 1);
}

TEST(ContributionStep, MostNegativeFactorIsDroppedAndTheRestSolvedAgain) {
  // Unconstrained solution (2, -1): factor 1 is dropped, factor 0 alone gives 1.5.
  TestModel m = one_record(2, {1, 0, 0, 1, 1, 1}, {2, -1, 1}, {1, 1, 1});
  contribution_step(m, 0);
  EXPECT_DOUBLE_EQ(m.x[0], 1.5);
  EXPECT_EQ(m.x[1], 0.0);
  EXPECT_EQ(m.dy, (std::vector<float>{0.5f, -1.0f, -0.5f}));
  EXPECT_DOUBLE_EQ(m.chi2, 1.5);
  EXPECT_EQ(m.nytot, 2);
  EXPECT_DOUBLE_EQ(m.sum2[0], 1.5);
  EXPECT_DOUBLE_EQ(m.sumsq, 2.25);
}

TEST(ContributionStep, TwoNegativesDropTheMoreNegativeFirst) {
  // Profile rows (1, 0, 0), (2, 0, 1), (2, 0, 1), (2, 1, 0) and values 5, 1, -2, 1:
  // the unconstrained solution is (5, -9, -10.5). Factor 2 goes first; solved
  // again, factor 1 comes out positive and stays: x = (1/3, 1/3, 0).
  TestModel m = one_record(3, {1, 0, 0, 2, 0, 1, 2, 0, 1, 2, 1, 0}, {5, 1, -2, 1}, {1, 1, 1, 1});
  contribution_step(m, 0);
  EXPECT_NEAR(m.x[0], 1.0 / 3, 1e-12);
  EXPECT_NEAR(m.x[1], 1.0 / 3, 1e-12);
  EXPECT_EQ(m.x[2], 0.0);
  EXPECT_EQ(m.nytot, 4 - 2);
}

TEST(ContributionStep, OffsetModeHoldsFactorZeroAtOne) {
  // Profile rows (0.5, 1) and (0.5, 2), values 2.5 and 4.5: x = (1, 2), residuals 0.
  TestModel m = one_record(2, {0.5, 1, 0.5, 2}, {2.5f, 4.5f}, {1, 1}, 1);
  contribution_step(m, 0);
  EXPECT_EQ(m.x[0], 1.0);
  EXPECT_NEAR(m.x[1], 2.0, 1e-12);
  EXPECT_NEAR(m.dy[0], 0.0f, 1e-6f);
  EXPECT_NEAR(m.dy[1], 0.0f, 1e-6f);
  EXPECT_EQ(m.nytot, 1);

  // With one factor only the offset remains: no problem is solved.
  TestModel one = one_record(1, {0.5, 0.25}, {2, 3}, {1, 1}, 1);
  contribution_step(one, 0);
  EXPECT_EQ(one.x[0], 1.0);
  EXPECT_EQ(one.dy, (std::vector<float>{1.5f, 2.75f}));
  EXPECT_EQ(one.nytot, 2);
}

TEST(ContributionStep, RecordWithEveryValueMissingGetsZeroContributions) {
  for (int offset : {0, 1}) {
    TestModel m = one_record(2, {1, 2, 3, 4}, {5, 6}, {0, -1}, offset);
    contribution_step(m, 0);
    EXPECT_EQ(m.x[0], offset ? 1.0 : 0.0);
    EXPECT_EQ(m.x[1], 0.0);
    EXPECT_EQ(m.chi2, 0.0);
    // Residuals are still stored: value minus the offset's share.
    EXPECT_EQ(m.dy[0], offset ? 4.0f : 5.0f);
  }
}

TEST(ContributionStep, MissingValueIsLeftOutOfTheFitButGetsAResidual) {
  // Variable 2 is missing (u = 0); the fit uses variables 0 and 1 only.
  TestModel m = one_record(1, {1, 1, 1}, {2, 2, 100}, {1, 1, 0});
  contribution_step(m, 0);
  EXPECT_DOUBLE_EQ(m.x[0], 2.0);
  EXPECT_EQ(m.dy[2], 98.0f);
  EXPECT_EQ(m.chi2, 0.0);
  EXPECT_EQ(m.nytot, 2);  // every variable counts, also the missing one
}
