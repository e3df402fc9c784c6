// The result table's number text must be exactly what "%lg" prints; the C
// library is the reference.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "formats/number_text.h"

namespace {

std::string printed(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%lg", value);
  return buf;
}

std::string formatted(double value) {
  char buf[kNumberTextSize];
  return std::string(buf, format_lg(buf, value));
}

TEST(NumberText, SpecialAndBoundaryValuesPrintAsLg) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double cases[] = {0.0, -0.0, 1.0, -1.0, 0.5, 0.1, 1e-4, 9.99999e-5, 0.0001, 0.00012345678,
                          123456.0, 999999.0, 999999.5, 9999995.0, 1234567.0, 1e5, 1e6, 1e15, 1e16, 1e100,
                          1e-300, DBL_MIN, DBL_MIN / 3, std::numeric_limits<double>::denorm_min(), DBL_MAX,
                          -DBL_MAX, 2.5, 0.15, 1.0 / 3, 2.0 / 3, 0.0632456, 1.5e-7, -4.2e+21,
                          std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                          nan, -nan, static_cast<double>(3.4028235e38f), static_cast<double>(1e-45f)};
  for (double value : cases) EXPECT_EQ(formatted(value), printed(value)) << printed(value);
}

TEST(NumberText, RandomValuesOverTheWholeRangePrintAsLg) {
  std::mt19937_64 rng(3);
  for (int k = 0; k < 200000; ++k) {
    std::uint64_t bits = rng();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    ASSERT_EQ(formatted(value), printed(value));
    // Values near the rounding points of six digits.
    double near = std::ldexp(static_cast<double>(rng() % 2000000) + 0.5, static_cast<int>(rng() % 40) - 20);
    ASSERT_EQ(formatted(near), printed(near));
    const double decimal = static_cast<double>(rng() % 10000000) / std::pow(10.0, static_cast<double>(rng() % 12));
    ASSERT_EQ(formatted(decimal), printed(decimal));
  }
}

}  // namespace
