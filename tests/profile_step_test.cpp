#include "engine/engine.h"

#include <gtest/gtest.h>

#include "support.h"

namespace {

// One factor, one free element p = 2, two records with contributions 1 and 2,
// residuals 1 and 2, uncertainties 1: least-squares correction 1, pull target 1.
TestModel single_element(float rotate, int damp) {
  TestModel m = make_model(1, 1, 2);
  m.p = {2.0};
  m.fp = {1};
  m.x = {1.0, 2.0};
  m.dy = {1.0f, 2.0f};
  m.usik = {1.0f, 1.0f};
  m.sum2 = {3.0};
  m.rotate = rotate;
  m.damp = damp;
  return m;
}

}  // namespace

TEST(ProfileStep, CorrectionIsDampedPulledAndRescaled) {
  struct Case {
    float rotate;
    int damp;
    double expected;
  };
  const Case cases[] = {{0.0f, 1, 4.5}, {0.0f, 10, 3.15}, {1.0f, 1, 6.0}};
  for (const Case& c : cases) {
    TestModel m = single_element(c.rotate, c.damp);
    profile_step(m, 0);
    EXPECT_NEAR(m.p[0], c.expected, 4 * std::numeric_limits<double>::epsilon() * c.expected)
        << "rotate " << c.rotate << " damp " << c.damp;
    EXPECT_EQ(m.ny[0], 1);
    EXPECT_EQ(m.nfree, 1);
  }
}

TEST(ProfileStep, HeldElementsAreOnlyRescaled) {
  TestModel m = single_element(0.0f, 1);
  m.fp = {0};
  profile_step(m, 0);
  EXPECT_DOUBLE_EQ(m.p[0], 3.0);  // 2 * (3 / 2)
  EXPECT_EQ(m.ny[0], 2);
  EXPECT_EQ(m.nfree, 0);
}

TEST(ProfileStep, ElementThatWouldTurnNegativeBecomesZeroAndIsHeld) {
  // Residuals -10 and -20 ask for a correction of -10 on an element of 2.
  TestModel m = single_element(0.0f, 1);
  m.dy = {-10.0f, -20.0f};
  profile_step(m, 0);
  EXPECT_EQ(m.p[0], 0.0);
  EXPECT_EQ(m.ny[0], 2);
  EXPECT_EQ(m.nfree, 0);
}

TEST(ProfileStep, OnlyTheLargerOvershootIsZeroedBeforeSolvingAgain) {
  // Two factors with orthogonal contributions; both elements are asked to go
  // negative, element 1 by more. It is zeroed; element 0 is solved again alone
  // and, with the same residuals, still overshoots and is zeroed next.
  TestModel m = make_model(2, 1, 2);
  m.p = {1.0, 1.0};
  m.fp = {1, 1};
  m.x = {1.0, 0.0, 0.0, 1.0};
  m.dy = {-2.0f, -5.0f};
  m.usik = {1.0f, 1.0f};
  m.sum2 = {2.0, 2.0};  // rescaling by 1
  m.damp = 1;
  profile_step(m, 0);
  EXPECT_EQ(m.p[0], 0.0);
  EXPECT_EQ(m.p[1], 0.0);
  EXPECT_EQ(m.ny[0], 2);

  // Residual of factor 0 small enough: only element 1 is zeroed, element 0 moves.
  m.p = {1.0, 1.0};
  m.dy = {-0.5f, -5.0f};
  m.nfree = 0;
  profile_step(m, 0);
  EXPECT_DOUBLE_EQ(m.p[0], 0.5);
  EXPECT_EQ(m.p[1], 0.0);
  EXPECT_EQ(m.ny[0], 1);
  EXPECT_EQ(m.nfree, 1);
}

TEST(ProfileStep, MissingValuesDoNotEnterTheNormalEquations) {
  TestModel m = single_element(0.0f, 1);
  m.usik = {1.0f, 0.0f};  // record 1 missing: correction 1 / 1 from record 0 alone
  profile_step(m, 0);
  EXPECT_DOUBLE_EQ(m.p[0], (2.0 + 1.0) * 1.5);
}
