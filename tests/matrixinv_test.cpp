#include "engine/engine.h"
#include "engine/detail/lane_matrixinv.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Inversion {
  int n;
  std::vector<double> block;
  std::vector<double> inverse;
  double det;
};

}  // namespace

TEST(Matrixinv, InvertsSmallBlocksWithTheirDeterminant) {
  const Inversion cases[] = {
      // [[4, 7], [2, 6]]: det 10, inverse [[0.6, -0.7], [-0.2, 0.4]].
      {2, {4, 7, 2, 6}, {0.6, -0.7, -0.2, 0.4}, 10},
      // The largest element is off the diagonal: both exchanges run; self-inverse, det -1.
      {2, {0, 1, 1, 0}, {0, 1, 1, 0}, -1},
      // A 3 x 3 permutation-like block with pivots everywhere but the diagonal.
      {3, {0, 0, 2, 0, 3, 0, 4, 0, 0}, {0, 0, 0.25, 0, 1.0 / 3, 0, 0.5, 0, 0}, -24},
  };
  for (const Inversion& c : cases) {
    std::vector<double> a = c.block;
    const int n = c.n;
    std::vector<int> ik(3), jk(3);
    double det = 0;
    Matrixinv(a.data(), n, n, &det, ik.data(), jk.data());
    EXPECT_NEAR(det, c.det, 1e-12);
    for (std::size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], c.inverse[i], 1e-15) << "element " << i;
  }
}

TEST(Matrixinv, SingularAndEmptyBlocks) {
  std::vector<int> ik(3), jk(3);
  double det = 5;
  std::vector<double> zero(9, 0.0);
  Matrixinv(zero.data(), 3, 3, &det, ik.data(), jk.data());
  EXPECT_EQ(det, 0.0);
  EXPECT_EQ(zero, std::vector<double>(9, 0.0));

  std::vector<double> untouched = {1, 2, 3, 4};
  Matrixinv(untouched.data(), 2, 0, &det, ik.data(), jk.data());
  EXPECT_EQ(det, 1.0);
  EXPECT_EQ(untouched, (std::vector<double>{1, 2, 3, 4}));
}

TEST(Matrixinv, TouchesOnlyTheStridedLeadingBlock) {
  // Stride 5, n = 2: only elements 0, 1, 5 and 6 may change.
  std::vector<double> a(25);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = 100.0 + static_cast<double>(i);
  a[0] = 4, a[1] = 7, a[5] = 2, a[6] = 6;
  std::vector<double> before = a;
  std::vector<int> ik(5), jk(5);
  double det;
  Matrixinv(a.data(), 5, 2, &det, ik.data(), jk.data());
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i == 0 || i == 1 || i == 5 || i == 6) continue;
    EXPECT_EQ(a[i], before[i]) << "element " << i;
  }
  EXPECT_NEAR(a[0], 0.6, 1e-15);
  EXPECT_NEAR(a[6], 0.4, 1e-15);
}

TEST(Matrixinv, RandomBlocksTimesTheirInverseGiveTheIdentity) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> value(-1.0, 1.0);
  for (int n = 1; n <= 20; ++n) {
    std::vector<double> a(static_cast<std::size_t>(n * n));
    for (double& e : a) e = value(rng);
    std::vector<double> inv = a;
    std::vector<int> ik(static_cast<std::size_t>(n)), jk(static_cast<std::size_t>(n));
    double det;
    Matrixinv(inv.data(), n, n, &det, ik.data(), jk.data());
    ASSERT_NE(det, 0.0);
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        double sum = 0;
        for (int k = 0; k < n; ++k) sum += a[static_cast<std::size_t>(i * n + k)] * inv[static_cast<std::size_t>(k * n + j)];
        EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-9) << "n=" << n << " (" << i << "," << j << ")";
      }
    }
  }
}
