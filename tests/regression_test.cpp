#include "stats/regression.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support.h"

TEST(Regression, WeightsAreScaledByTheReducedChiSquare) {
  // One factor, ny = 1, contributions 1 and 2, values 1.1 and 1.9, residuals 0.1
  // and -0.1, uncertainties 1: chi = 0.02, coefficient 0.98, s = sqrt(0.004).
  TestModel m = make_model(1, 1, 2);
  m.x = {1, 2};
  m.rawdata = {1.1f, 1.9f};
  m.dy = {0.1f, -0.1f};
  m.usik = {1, 1};
  m.ny = {1};
  double coef, se;
  double chi = regression(m, 0, &coef, &se);
  EXPECT_NEAR(chi, 0.02, 1e-8);
  EXPECT_NEAR(coef, 0.98, 1e-6);
  char printed[32];
  std::snprintf(printed, sizeof printed, "%lg", se);
  EXPECT_STREQ(printed, "0.0632456");
}

TEST(Regression, ScaleOneGivesThePlainWeightedStandardErrors) {
  // Residuals 1 and -1 with uncertainties 1 and ny = 2: chi = ny, scale 1.
  // Two factors, records (1, 0) and (0, 1), uncertainty 1 and 2 (variable 0).
  TestModel m = make_model(2, 1, 2);
  m.x = {1, 0, 0, 1};
  m.rawdata = {3, 5};
  m.dy = {1, -2};
  m.usik = {1, 2};
  m.ny = {2};
  double coef[2], se[2];
  double chi = regression(m, 0, coef, se);
  EXPECT_DOUBLE_EQ(chi, 2.0);
  EXPECT_DOUBLE_EQ(coef[0], 3.0);
  EXPECT_DOUBLE_EQ(coef[1], 5.0);
  EXPECT_DOUBLE_EQ(se[0], 1.0);
  EXPECT_DOUBLE_EQ(se[1], 2.0);
}

TEST(Regression, OffsetColumnActsAsIntercept) {
  // Offset mode: x[s][0] = 1; values 1 + 2 * x1 exactly, so the intercept is 1.
  TestModel m = make_model(2, 1, 3);
  m.x = {1, 0, 1, 1, 1, 2};
  m.rawdata = {1, 3, 5};
  m.dy = {0.5f, -0.5f, 0.5f};
  m.usik = {1, 1, 1};
  m.ny = {3};
  double coef[2], se[2];
  regression(m, 0, coef, se);
  EXPECT_NEAR(coef[0], 1.0, 1e-12);
  EXPECT_NEAR(coef[1], 2.0, 1e-12);
}

TEST(Regression, ExactFitGivesNonFiniteWeightsWithoutFailing) {
  TestModel m = make_model(1, 1, 2);
  m.x = {1, 2};
  m.rawdata = {1, 2};
  m.usik = {1, 1};
  m.ny = {1};
  double coef, se;
  double chi = regression(m, 0, &coef, &se);
  EXPECT_EQ(chi, 0.0);
  EXPECT_FALSE(std::isfinite(coef) && std::isfinite(se));
}
