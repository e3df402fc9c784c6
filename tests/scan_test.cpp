// The factor-number scan: the expected chi2 counted by hand, and the scan through
// the built program (its table, its agreement with fresh starts of the fit, its
// refusals).
#include <gtest/gtest.h>

#include "scan/scan.h"
#include "support.h"

TEST(Scan, ExpectedQCountsValuesLessFreeParameters) {
  // Five records x four variables x two factors; one value missing (record 2,
  // variable 1), and the elements [0][1] and [3][0] held:
  //   values 20 - 1 = 19, free profile elements 8 - 2 = 6,
  //   contributions 5 x 2 = 10 (offset mode: 5 x 1, factor 0's are fixed at 1).
  struct Case {
    int offset;
    bool missing, held;
    long q;
  };
  const Case cases[] = {
      {0, false, false, 20 - 8 - 10}, {0, true, false, 19 - 8 - 10}, {0, true, true, 19 - 6 - 10},
      {1, true, true, 19 - 6 - 5},
  };
  for (const Case& c : cases) {
    TestModel m = make_model(2, 4, 5);
    m.offset = c.offset;
    std::fill(m.usik.begin(), m.usik.end(), 0.5f);
    std::fill(m.fp.begin(), m.fp.end(), 1);
    if (c.missing) m.usik[2 * 4 + 1] = 0.0f;
    if (c.held) m.fp[0 * 2 + 1] = m.fp[3 * 2 + 0] = 0;
    EXPECT_EQ(expected_q(m), c.q) << c.offset << c.missing << c.held;
    // The scan's problem of K factors frees every element.
    const Problem three = problem_with_factors(m, 3);
    EXPECT_TRUE(three.consistent());
    EXPECT_EQ(expected_q(three), (c.missing ? 19 : 20) - 12 - 5 * (3 - c.offset));
  }
}
