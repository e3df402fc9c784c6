// The normal equations' quotients formed with the reciprocal against the divider,
// on dividends and divisors chosen where a rounding would go wrong first.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "engine/detail/reciprocal_division.h"

namespace {

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// A float of random significand and exponent in [lo, hi].
float random_float(std::mt19937_64& rng, int lo, int hi) {
  const auto significand = static_cast<double>((rng() >> 40) | (1u << 23));  // 24 bits
  const int exponent = lo + static_cast<int>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
  return static_cast<float>(std::ldexp(significand, exponent - 23));
}

// A double of random significand, sign and exponent in [lo, hi].
double random_double(std::mt19937_64& rng, int lo, int hi) {
  const auto significand = static_cast<double>((rng() >> 11) | (std::uint64_t{1} << 52));  // 53 bits
  const int exponent = lo + static_cast<int>(rng() % static_cast<std::uint64_t>(hi - lo + 1));
  const double x = std::ldexp(significand, exponent - 52);
  return rng() % 2 ? -x : x;
}

struct DividendCase {
  const char* name;
  // A dividend for the divisor u.
  std::function<double(std::mt19937_64&, double u)> dividend;
};

TEST(ReciprocalDivision, QuotientsEqualTheDividersBitForBit) {
  if (!reciprocal_division_available()) GTEST_SKIP() << "no fused multiply-add on this processor";
  const DividendCase cases[] = {
      {"random over the whole range", [](std::mt19937_64& rng, double) { return random_double(rng, -700, 699); }},
      // m * u rounded, m a midpoint between two doubles (54 bits, the last set;
      // m - 1 fits a double, and the fused (m - 1) * u + u rounds once):
      // a / u lies as near a midpoint as a quotient by a float can.
      {"quotients next to a midpoint",
       [](std::mt19937_64& rng, double u) {
         const std::uint64_t m = (rng() >> 10) | (std::uint64_t{1} << 53) | 1;
         const double a = std::ldexp(std::fma(static_cast<double>(m - 1), u, u), static_cast<int>(rng() % 1000) - 553);
         const int step = static_cast<int>(rng() % 3) - 1;  // the rounded product or a neighbour
         return step == 0 ? a : std::nextafter(a, step * HUGE_VAL);
       }},
      // q * u exact (29 + 24 bits): the quotient is q itself.
      {"exact quotients",
       [](std::mt19937_64& rng, double u) {
         const double q = std::ldexp(static_cast<double>((rng() >> 35) | (1u << 28)), static_cast<int>(rng() % 1000) - 528);
         return q * u;
       }},
      {"ends of the range and zeros",
       [](std::mt19937_64& rng, double) {
         const double ends[] = {0x1p-700, std::nextafter(0x1p-700, 1.0), 0x1p700, std::nextafter(0x1p700, 0.0), 1.0,
                                0.0, -0.0};
         const double a = ends[rng() % 7];
         return rng() % 2 ? -a : a;
       }},
  };
  const int kDivisors = 4096;
  const int kPerDivisor = 64;  // dividends per divisor, one call of the kernel
  for (const DividendCase& c : cases) {
    std::mt19937_64 rng(11);
    std::vector<double> pij(kPerDivisor), g(kPerDivisor), pp(4), rhs(4);
    double r_hi = 0.0, r_lo = 0.0;
    int checked = 0;
    for (int d = 0; d < kDivisors; ++d) {
      const float ends[] = {0x1p-126f, FLT_MAX, 1.0f, 0x1p-149f};
      float uf = d < 4 ? ends[d] : random_float(rng, -126, 127);
      // Every fourth divisor with a short significand: its reciprocal is exact or
      // nearly so, and the small part of the reciprocal tiny or zero.
      if (d % 4 == 3) {
        int exponent = 0;
        const float significand = std::frexp(uf, &exponent);
        const int kept_bits = 1 + d % 11;
        uf = std::ldexp(std::trunc(std::ldexp(significand, kept_bits)), exponent - kept_bits);
      }
      const auto u = static_cast<double>(uf);
      for (double& a : pij) {
        do a = c.dividend(rng, u);
        while (!(a == 0.0 || (std::fabs(a) >= 0x1p-700 && std::fabs(a) <= 0x1p700)));
      }
      // The right-hand side: a measured value times a profile element in range.
      const float yf = random_float(rng, -60, 60);
      const auto y = static_cast<double>(yf);
      for (double& p : pp) p = std::fabs(random_double(rng, -300, 299));
      ASSERT_TRUE(reciprocal_normal_equations(pp.data(), pij.data(), 4, kPerDivisor, kPerDivisor, &yf, &uf, 4, 1, 0,
                                              g.data(), rhs.data(), &r_hi, &r_lo));
      for (std::size_t k = 0; k < static_cast<std::size_t>(kPerDivisor); ++k, ++checked) {
        const double want = 0.0 + pij[k] / u / u;
        ASSERT_EQ(bits(g[k]), bits(want)) << c.name << ": " << std::hexfloat << pij[k] << " / " << u << " / " << u;
      }
      for (std::size_t k = 0; k < 4; ++k) {
        const double want = 0.0 + (y - 0 * pp[0]) * pp[k] / u / u;
        ASSERT_EQ(bits(rhs[k]), bits(want)) << c.name << ": " << std::hexfloat << y << " * " << pp[k] << " / " << u;
      }
    }
    EXPECT_EQ(checked, kDivisors * kPerDivisor) << c.name;
  }
}

}  // namespace
