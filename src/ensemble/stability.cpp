#include "ensemble/stability.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "control/text_format.h"
#include "ensemble/statistics.h"

namespace {

double or_zero(double r) { return std::isfinite(r) ? r : 0.0; }

// The pairing of highest total score, score[i * n + j] for base factor i and other
// factor j: best[mask] is the highest total of pairing base factors 0 .. |mask| - 1
// with the other factors in mask.
std::vector<int> best_pairing(const std::vector<double>& score, int n) {
  const std::size_t states = std::size_t{1} << n;
  std::vector<double> best(states, -std::numeric_limits<double>::infinity());
  std::vector<int> last(states, -1);  // the other factor given to the last base factor of mask
  best[0] = 0.0;
  for (std::size_t mask = 0; mask < states; ++mask) {
    if (!std::isfinite(best[mask])) continue;
    const int i = std::popcount(mask);
    if (i == n) continue;
    for (int j = 0; j < n; ++j) {
      const std::size_t bit = std::size_t{1} << j;
      if (mask & bit) continue;
      const double total = best[mask] + score[static_cast<std::size_t>(i * n + j)];
      if (total > best[mask | bit]) {
        best[mask | bit] = total;
        last[mask | bit] = j;
      }
    }
  }
  std::vector<int> factor(static_cast<std::size_t>(n), -1);
  std::size_t mask = states - 1;
  for (int i = n - 1; i >= 0; --i) {
    const int j = last[mask];
    factor[static_cast<std::size_t>(i)] = j;
    mask &= ~(std::size_t{1} << j);
  }
  return factor;
}

}  // namespace

FactorPairing pair_factors(const double* base_p, const double* base_x, const double* other_p, const double* other_x,
                           int nvar, int nrec, int nfakt, int offset) {
  const std::size_t k = static_cast<std::size_t>(nfakt);
  std::vector<double> profile_r(k * k), contribution_r(k * k), score(k * k);
  for (std::size_t i = 0; i < k; ++i) {
    for (std::size_t j = 0; j < k; ++j) {
      profile_r[i * k + j] = correlation(base_p + i, k, other_p + j, k, static_cast<std::size_t>(nvar));
      contribution_r[i * k + j] = correlation(base_x + i, k, other_x + j, k, static_cast<std::size_t>(nrec));
      score[i * k + j] = or_zero(profile_r[i * k + j]) + or_zero(contribution_r[i * k + j]);
      // The offset is factor 0 of every fit: a pairing that moves it scores lowest.
      if (offset && (i == 0 || j == 0)) score[i * k + j] = i == j ? 4.0 : -4.0;
    }
  }
  FactorPairing pairing;
  pairing.factor = best_pairing(score, nfakt);
  for (std::size_t i = 0; i < k; ++i) {
    const std::size_t j = static_cast<std::size_t>(pairing.factor[i]);
    pairing.profile_r.push_back(profile_r[i * k + j]);
    pairing.contribution_r.push_back(offset && i == 0 ? 1.0 : contribution_r[i * k + j]);
  }
  return pairing;
}

std::vector<double> factor_shares(const Problem& problem, const double* p, const double* x, int total) {
  const std::size_t k = static_cast<std::size_t>(problem.nfakt);
  std::vector<double> amount(k, 0.0);
  double sum = 0.0;
  for (std::size_t f = 0; f < k; ++f) {
    double contributions = 0.0;
    for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) contributions += x[s * k + f];
    double profile = 0.0;
    if (total >= 0) {
      profile = p[static_cast<std::size_t>(total) * k + f];
    } else {
      for (std::size_t v = 0; v < static_cast<std::size_t>(problem.nvar); ++v) profile += p[v * k + f];
    }
    amount[f] = profile * contributions;
    sum += amount[f];
  }
  for (double& a : amount) a = 100.0 * a / sum;
  return amount;
}

Stability assess_stability(const Problem& problem, const StartsRun& run, int total) {
  Stability out;
  const std::size_t k = static_cast<std::size_t>(problem.nfakt);
  out.least_share.assign(k, std::numeric_limits<double>::infinity());
  out.most_share.assign(k, -std::numeric_limits<double>::infinity());
  const StartResult& best = run.starts[static_cast<std::size_t>(run.best)];
  for (const StartResult& start : run.starts) {
    StartStability s;
    s.has_result = start.ran && !start.outcome.failed && std::isfinite(start.chi2);
    if (s.has_result) {
      s.excess_percent = 100.0 * (start.chi2 - best.chi2) / best.chi2;
      s.match = pair_factors(best.p.data(), best.x.data(), start.p.data(), start.x.data(), problem.nvar,
                             problem.nrec, problem.nfakt, problem.offset);
      s.reproduced = s.excess_percent <= kSameChi2Percent;
      for (std::size_t f = 0; f < k; ++f) {
        if (!(s.match.profile_r[f] >= kReproducedR && s.match.contribution_r[f] >= kReproducedR)) s.reproduced = false;
      }
      s.near_best = s.excess_percent <= kNearChi2Percent;
      const std::vector<double> own = factor_shares(problem, start.p.data(), start.x.data(), total);
      for (std::size_t f = 0; f < k; ++f) s.share.push_back(own[static_cast<std::size_t>(s.match.factor[f])]);
      if (s.reproduced) ++out.reproduced;
      if (s.near_best) {
        ++out.near_best;
        for (std::size_t f = 0; f < k; ++f) {
          out.least_share[f] = std::min(out.least_share[f], s.share[f]);
          out.most_share[f] = std::max(out.most_share[f], s.share[f]);
        }
      }
    }
    out.starts.push_back(std::move(s));
  }
  return out;
}

std::string stability_line(const Problem& problem, const Stability& stability, const std::string& total_name) {
  std::string line = format_text(
      "Stability: %d of %d starts reached the best chi2 within %lg %% and reproduced every factor at r >= %lg; ",
      stability.reproduced, static_cast<int>(stability.starts.size()), kSameChi2Percent, kReproducedR);
  line += total_name.empty() ? std::string("shares of all variables") : "shares of " + total_name;
  line += format_text(" over the %d start%s within %lg %% of the best chi2:", stability.near_best,
                      stability.near_best == 1 ? "" : "s", kNearChi2Percent);
  for (std::size_t f = 0; f < static_cast<std::size_t>(problem.nfakt); ++f) {
    line += format_text("%s %s %.2f to %.2f %%", f == 0 ? "" : ",", problem.faktnavn[f].c_str(),
                        stability.least_share[f], stability.most_share[f]);
  }
  return line + ".\n";
}
