#include "ensemble/mapping.h"

#include <cmath>

#include "ensemble/statistics.h"

namespace {

double column_correlation(const Contributions& a, int i, const Contributions& b, int j) {
  return correlation(a.x + i, static_cast<std::size_t>(a.nfakt), b.x + j, static_cast<std::size_t>(b.nfakt),
                     static_cast<std::size_t>(a.nrec));
}

}  // namespace

std::vector<FactorMatch> best_matches(const Contributions& base, const Contributions& other) {
  std::vector<FactorMatch> matches(static_cast<std::size_t>(base.nfakt), FactorMatch{-1, std::nan("")});
  for (int i = 0; i < base.nfakt; ++i) {
    FactorMatch& best = matches[static_cast<std::size_t>(i)];
    for (int j = 0; j < other.nfakt; ++j) {
      const double r = column_correlation(base, i, other, j);
      if (std::isfinite(r) && (best.factor < 0 || r > best.r)) best = {j, r};
    }
  }
  return matches;
}

std::vector<FactorMatch> map_factors(const Contributions& base, const Contributions& replicate, double min_r,
                                     int offset) {
  std::vector<FactorMatch> mapped(static_cast<std::size_t>(base.nfakt), FactorMatch{-1, std::nan("")});
  if (offset && base.nfakt > 0 && replicate.nfakt > 0) mapped[0] = {0, 1.0};
  for (int j = offset; j < replicate.nfakt; ++j) {
    int target = -1;
    double target_r = 0.0;
    for (int i = offset; i < base.nfakt; ++i) {
      const double r = column_correlation(base, i, replicate, j);
      if (std::isfinite(r) && (target < 0 || r > target_r)) {
        target = i;
        target_r = r;
      }
    }
    if (target < 0 || !(target_r >= min_r)) continue;
    FactorMatch& slot = mapped[static_cast<std::size_t>(target)];
    if (slot.factor < 0 || target_r > slot.r) slot = {j, target_r};
  }
  return mapped;
}
