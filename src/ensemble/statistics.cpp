#include "ensemble/statistics.h"

#include <algorithm>
#include <cmath>

double correlation(const double* a, std::size_t stride_a, const double* b, std::size_t stride_b, std::size_t n) {
  if (n < 2) return std::nan("");
  double mean_a = 0.0;
  double mean_b = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    mean_a += a[i * stride_a];
    mean_b += b[i * stride_b];
  }
  mean_a /= static_cast<double>(n);
  mean_b /= static_cast<double>(n);
  double sab = 0.0;
  double saa = 0.0;
  double sbb = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double da = a[i * stride_a] - mean_a;
    const double db = b[i * stride_b] - mean_b;
    sab += da * db;
    saa += da * da;
    sbb += db * db;
  }
  if (!(saa > 0.0) || !(sbb > 0.0)) return std::nan("");
  return sab / std::sqrt(saa * sbb);
}

double percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return std::nan("");
  const double h = static_cast<double>(sorted.size() - 1) * q;
  const double below = std::floor(h);
  const auto i = static_cast<std::size_t>(below);
  if (i + 1 >= sorted.size()) return sorted.back();
  return sorted[i] + (h - below) * (sorted[i + 1] - sorted[i]);
}

namespace {

double flat_top(double t) {
  const double a = std::fabs(t);
  if (a <= 0.5) return 1.0;
  if (a <= 1.0) return 2.0 * (1.0 - a);
  return 0.0;
}

}  // namespace

double politis_white_length(const std::vector<double>& x) {
  const std::size_t n = x.size();
  if (n < 4) return 0.0;
  const double nd = static_cast<double>(n);
  double mean = 0.0;
  for (double v : x) mean += v;
  mean /= nd;
  std::vector<double> c(n);
  for (std::size_t i = 0; i < n; ++i) c[i] = x[i] - mean;
  auto autocovariance = [&](std::size_t k) {
    double s = 0.0;
    for (std::size_t i = 0; i + k < n; ++i) s += c[i] * c[i + k];
    return s / nd;
  };
  const double r0 = autocovariance(0);
  if (!(r0 > 0.0)) return 0.0;

  const auto kn = static_cast<std::size_t>(std::max(5.0, std::ceil(std::sqrt(std::log10(nd)))));
  const std::size_t mmax = std::min(static_cast<std::size_t>(std::ceil(std::sqrt(nd))) + kn, n - 1);
  const double bmax = std::ceil(std::min(3.0 * std::sqrt(nd), nd / 3.0));
  const double bound = 2.0 * std::sqrt(std::log10(nd) / nd);
  std::vector<double> rho(mmax + 1, 1.0);
  for (std::size_t k = 1; k <= mmax; ++k) rho[k] = autocovariance(k) / r0;

  std::size_t m = mmax > kn ? mmax - kn : 1;
  for (std::size_t lag = 1; lag + kn <= mmax; ++lag) {
    bool quiet = true;
    for (std::size_t k = 1; k <= kn && quiet; ++k) quiet = std::fabs(rho[lag + k]) < bound;
    if (quiet) {
      m = lag;
      break;
    }
  }
  const std::size_t big_m = std::min(2 * m, mmax);

  double g_sum = 0.0;
  double g0 = r0;
  for (std::size_t k = 1; k <= big_m; ++k) {
    const double weight = flat_top(static_cast<double>(k) / static_cast<double>(big_m));
    const double rk = autocovariance(k);
    g_sum += 2.0 * weight * static_cast<double>(k) * rk;
    g0 += 2.0 * weight * rk;
  }
  const double d = 4.0 / 3.0 * g0 * g0;
  if (!(d > 0.0)) return 0.0;
  const double length = std::cbrt(2.0 * g_sum * g_sum / d) * std::cbrt(nd);
  return std::min(length, bmax);
}
